// The records that cross between user mode and the GigE network service.
#pragma once

#include <cstddef>
#include <cstdint>

// Every record is packed and little-endian; fields marked "network order" hold
// IPv4 addresses exactly as they stand in the IP header. Both the service and
// its clients use these layouts, so their sizes and key offsets are pinned.

namespace qorcam::gige {

#pragma pack(push, 1)

struct GigeVersionInfo {
    uint32_t version;
    uint32_t reserved;
};

// Camera-level request block; which fields count depends on the control code.
struct GigeRequestBlock {
    uint32_t processId;
    uint32_t cameraIp; // network order
    uint16_t command;  // 0 DISCOVERY .. 5 ACTION
    uint16_t hostPort;
    uint8_t body[790];
};

// Bodies of the command form, from +12.
struct GigeReadRegBody {
    uint16_t count; // 1..135
    uint32_t address[135];
};
struct GigeWriteRegBody {
    uint16_t count; // 1..67
    uint32_t address[67];
    uint32_t value[67];
};
struct GigeReadMemBody {
    uint32_t address;
    uint16_t count;
};
struct GigeWriteMemBody {
    uint32_t address;
    uint16_t count; // at most 536
    uint8_t data[536];
};
struct GigeActionBody {
    uint32_t deviceKey;
    uint32_t groupKey;
    uint32_t groupMask;
};

struct GigeStreamSetupForm {
    uint32_t processId;
    uint32_t cameraIp; // network order
    uint16_t hostPort;
    uint16_t channelIndex;
    uint32_t packetPayloadSize;
    uint8_t resendEnable;
};

struct GigeStreamForm {
    uint16_t hostPort;
    uint32_t infoOffset;
    uint32_t packetCount;
};

struct GigeTestPacketForm {
    uint16_t hostPort;
    uint32_t length;
};

struct GigeHeartbeatForm {
    uint32_t processId;
    uint32_t cameraIp; // network order
    uint32_t interval;
    uint32_t lostTimeout;
    uint16_t hostPort;
};

struct GigeMulticastForm {
    uint32_t processId;
    uint16_t hostPort;
    uint32_t group; // network order
};

struct GigeActionForm {
    uint32_t processId;
    uint32_t cameraIp; // network order, 0 = all adapters
    uint32_t unused;
    uint32_t deviceKey;
    uint32_t groupKey;
    uint32_t groupMask;
};

struct GigePortRecord {
    uint32_t processId;
    uint16_t hostPort;
    uint8_t unused[2];
};

struct GigeDeviceRecord {
    uint32_t ip; // network order
    uint8_t mac[6];
    uint32_t ipAgain;
    uint16_t versionMajor;
    uint16_t versionMinor;
    uint32_t deviceMode;
    uint8_t reserved[4];
    char manufacturerName[32];
    char modelName[32];
    char deviceVersion[32];
    char manufacturerInfo[48];
    char serialNumber[16];
    char userDefinedName[16];
};

struct GigeDeviceLink {
    uint32_t cameraIp;
    uint32_t adapterNumber;
    uint32_t linkSpeedMbps;
    uint32_t maxFrameSize;
    uint32_t adapterIp; // network order
};

inline constexpr size_t kAdapterNameChars = 260;
inline constexpr size_t kDisplayNameChars = 132;

struct GigeAdapterAddress {
    char16_t shortName[kAdapterNameChars];
    uint32_t ip;   // network order
    uint32_t mask; // network order
};

struct NicInfoRecord {
    char16_t shortName[kAdapterNameChars];
    char16_t displayName[kDisplayNameChars];
    uint32_t adapterNumber;
    uint32_t ip;   // network order
    uint32_t mask; // network order
    uint8_t mac[6];
};

struct GvcpCommandBlock {
    uint32_t command; // 0 FORCEIP, 1 READREG, 2 READMEM, 3 WRITEREG, 4 WRITEMEM
    uint32_t adapterNumber;
    uint32_t address;
    uint16_t length;
    uint16_t requestId;
    uint8_t mac[6];
    uint32_t ip; // network order
    uint32_t mask;
    uint32_t gateway;
    uint8_t data[512];
};

struct GigeDiscoveryAnswer {
    uint32_t adapterNumber;
    uint8_t mac[6];
    uint32_t ipConfigOptions;
    uint32_t ipConfigCurrent;
    uint32_t ip; // network order
    uint32_t mask;
    uint32_t gateway;
    char manufacturerName[32];
    char modelName[32];
    char userDefinedName[16];
};

struct GigeEventInfo {
    uint32_t processId;
    uint32_t cameraIp; // network order
    uint16_t hostPort;
    uint16_t cameraPort;
};

struct GigeEventData {
    uint8_t packet[548];
};

inline constexpr size_t kMessageTextBytes = 530;

struct GigeMessageRecord {
    uint32_t adapterWord; // MAC bytes 2..5, byte 2 lowest
    uint32_t status;
    char16_t text[(kMessageTextBytes + 2) / 2];
};

struct GigeActionAck {
    uint64_t mac;
};

struct GigeCameraAddress {
    uint8_t mac[6];
    uint32_t ip; // network order
};

struct GigeBlockInfo {
    uint32_t payloadType;
    uint64_t blockId;
    uint64_t timestamp;
    uint8_t fields[520];
    uint32_t missingPackets;
};

#pragma pack(pop)

static_assert(sizeof(GigeVersionInfo) == 8);
static_assert(sizeof(GigeRequestBlock) == 802);
static_assert(offsetof(GigeRequestBlock, hostPort) == 10 && offsetof(GigeRequestBlock, body) == 12);
static_assert(offsetof(GigeReadRegBody, address) == 2 && sizeof(GigeReadRegBody) == 2 + 135 * 4);
static_assert(offsetof(GigeWriteRegBody, value) == 282 - 12);
static_assert(offsetof(GigeWriteMemBody, data) == 18 - 12);
static_assert(12 + sizeof(GigeReadRegBody) <= sizeof(GigeRequestBlock));
static_assert(12 + sizeof(GigeWriteRegBody) <= sizeof(GigeRequestBlock));
static_assert(12 + sizeof(GigeWriteMemBody) <= sizeof(GigeRequestBlock));
static_assert(sizeof(GigeActionBody) == 12);
static_assert(sizeof(GigeStreamSetupForm) == 17);
static_assert(sizeof(GigeStreamForm) == 10);
static_assert(sizeof(GigeTestPacketForm) == 6);
static_assert(sizeof(GigeHeartbeatForm) == 18);
static_assert(sizeof(GigeMulticastForm) == 10);
static_assert(sizeof(GigeActionForm) == 24 && offsetof(GigeActionForm, deviceKey) == 12);
static_assert(sizeof(GigePortRecord) == 8);
static_assert(sizeof(GigeDeviceRecord) == 202 && offsetof(GigeDeviceRecord, manufacturerName) == 26 &&
              offsetof(GigeDeviceRecord, userDefinedName) == 186);
static_assert(sizeof(GigeDeviceLink) == 20);
static_assert(sizeof(GigeAdapterAddress) == 528 && offsetof(GigeAdapterAddress, ip) == 520);
static_assert(sizeof(NicInfoRecord) == 802 && offsetof(NicInfoRecord, displayName) == 520 &&
              offsetof(NicInfoRecord, adapterNumber) == 784 && offsetof(NicInfoRecord, mac) == 796);
static_assert(sizeof(GvcpCommandBlock) == 546 && offsetof(GvcpCommandBlock, mac) == 16 &&
              offsetof(GvcpCommandBlock, data) == 34);
static_assert(sizeof(GigeDiscoveryAnswer) == 110 && offsetof(GigeDiscoveryAnswer, manufacturerName) == 30 &&
              offsetof(GigeDiscoveryAnswer, userDefinedName) == 94);
static_assert(sizeof(GigeEventInfo) == 12);
static_assert(sizeof(GigeEventData) == 548);
static_assert(sizeof(GigeMessageRecord) == 540 && offsetof(GigeMessageRecord, text) == 8);
static_assert(sizeof(GigeActionAck) == 8);
static_assert(sizeof(GigeCameraAddress) == 10);
static_assert(sizeof(GigeBlockInfo) == 544 && offsetof(GigeBlockInfo, fields) == 20 &&
              offsetof(GigeBlockInfo, missingPackets) == 540);

} // namespace qorcam::gige
