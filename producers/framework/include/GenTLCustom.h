/* Conventions of our own between the camera library and the producers: custom info commands, events and
 * module registers. */
#ifndef QORCAM_GENTL_CUSTOM_H
#define QORCAM_GENTL_CUSTOM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Device-info commands (IFGetDeviceInfo, DevGetInfo). */
enum DEVICE_INFO_CUSTOM_CMD_LIST {
    DEVICE_INFO_CUSTOM_VISIBLE = 1000,       /* BOOL8: the device is still reachable */
    DEVICE_INFO_CUSTOM_SPEED = 1001,         /* INT32: link speed (GigE 100 or 1000; USB 512 or 1024) */
    DEVICE_INFO_CUSTOM_BUS_NUMBER = 1002,    /* INT32: GigE: host adapter IPv4 address, host order */
    DEVICE_INFO_CUSTOM_SPEC_MAJOR = 1003,    /* INT32: GigE Vision or GenCP version, major */
    DEVICE_INFO_CUSTOM_SPEC_MINOR = 1004,    /* INT32: GigE Vision or GenCP version, minor */
    DEVICE_INFO_CUSTOM_DEV_MODE = 1005,      /* INT32: GigE device mode */
    DEVICE_INFO_CUSTOM_DEV_VERSION = 1006,   /* STRING */
    DEVICE_INFO_CUSTOM_VENDOR_INFO = 1007,   /* STRING: manufacturer-specific information */
    DEVICE_INFO_CUSTOM_SERIAL_NUMBER = 1008, /* STRING */
    DEVICE_INFO_CUSTOM_USER_NAME = 1009,     /* STRING: user-defined name */
    DEVICE_INFO_CUSTOM_FAMILY_NAME = 1010,   /* STRING, USB3 Vision */
    DEVICE_INFO_CUSTOM_CAPABILITY = 1011,    /* UINT64, USB3 Vision device capability */
    DEVICE_INFO_CUSTOM_EVENT_SIZE_MAX = 1012 /* UINT32, USB3 Vision maximum event transfer length */
};

/* Buffer-info commands (DSGetBufferInfo). */
enum BUFFER_INFO_CUSTOM_CMD_LIST {
    BUFFER_INFO_CUSTOM_STATUS = 1000, /* UINT32: completion status of the buffer's last transfer */
    BUFFER_INFO_CUSTOM_BYTES = 1001   /* UINT32: bytes the driver reported for that transfer */
};

/* Event types (GCRegisterEvent). */
enum EVENT_CUSTOM_TYPE_LIST {
    EVENT_CUSTOM_BUS = 1000,          /* interface: one u32 bus event code per entry */
    EVENT_CUSTOM_DEVICE_EVENT = 1002, /* device: one camera event record per entry */
    EVENT_CUSTOM_ACTION_ACK = 1003    /* interface: one u64 camera MAC per acknowledged action */
};

/* Codes of EVENT_CUSTOM_BUS entries. */
enum BUS_EVENT_CODE_LIST { BUS_EVENT_OTHER = 0, BUS_EVENT_RESET = 1, BUS_EVENT_POWER_UP = 2 };

/* Interface-module registers (GCReadPort / GCWritePort on an IF_HANDLE). */
enum IF_REG_LIST {
    IF_REG_REDISCOVER = 0x100, /* write, any size: ask the driver to discover again */
    IF_REG_ACTION = 0x101      /* write, 12 bytes: {device key, group key, group mask} to all cameras */
};

/* Device-module registers (GCReadPort / GCWritePort on a DEV_HANDLE); sizes must match exactly. */
enum DEV_REG_LIST {
    DEV_REG_TEST_PACKET = 0x100,       /* read 4: run the test-packet check, answer its code */
    DEV_REG_TEST_TIMEOUT = 0x101,      /* write 4: wait time of the test-packet check, ms */
    DEV_REG_102 = 0x102,               /* write 4: message channel destination */
    DEV_REG_HEARTBEAT = 0x103,         /* write 4: heartbeat timeout, ms; 0 stops the heartbeat */
    DEV_REG_CMD_TIMEOUT = 0x104,       /* write 4: command timeout, ms; 0xFFFFFFFF no limit / default */
    DEV_REG_RESET_STREAM_PIPE = 0x105, /* write, any size: USB3 Vision stream pipe reset */
    DEV_REG_ACTION = 0x106,            /* write 12: action command to this camera, waited for */
    DEV_REG_ACTION_NOWAIT = 0x107      /* write 12: action command, acknowledged by EVENT_CUSTOM_ACTION_ACK */
};

/* Stream-module registers (GCReadPort / GCWritePort on a DS_HANDLE); sizes must match exactly. */
enum DS_REG_LIST {
    DS_REG_PORT = 0x100,          /* read/write 4: GigE host stream port */
    DS_REG_STATISTICS = 0x101,    /* read 24: three u64 stream counters */
    DS_REG_STREAM_ENABLE = 0x102, /* write 4: accept blocks while non-zero */
    DS_REG_FLAG_103 = 0x103,      /* write 4: packet resend enable */
    DS_REG_DESTINATION = 0x104,   /* write 4: stream destination IPv4 address, host order */
    DS_REG_INFO_OFFSET = 0x105,   /* write 4: offset of the block-information area in each buffer */
    DS_REG_PACKET_COUNT = 0x106,  /* write 4: packets per block */
    DS_REG_USB_106 = 0x106,       /* write 4: USB3 Vision payload transfer size override */
    DS_REG_USB_107 = 0x107,       /* write 4: USB3 Vision leader offset */
    DS_REG_USB_108 = 0x108,       /* write 4: USB3 Vision trailer offset */
    DS_REG_BUFFER_MEMORY = 0x109  /* write 4: GigE: a descriptor (of the caller's process) of the sealed
                                     memory file whose mapping is the memory of the next buffer given to
                                     DSAnnounceBuffer; the service then writes into that memory itself */
};

/* Size of one EVENT_CUSTOM_DEVICE_EVENT entry of the GigE producer (the driver's event record). */
#define GIGE_EVENT_DATA_SIZE 548

/* Last-error text of IFOpenDevice when the device is open already; consumers match it exactly. */
#define GENTL_TEXT_DEVICE_ALREADY_OPEN "Device already open"

#ifdef __cplusplus
}
#endif

#endif /* QORCAM_GENTL_CUSTOM_H */
