// HardwareInfo: the descriptor walk and the pipe roles of a camera.
#include "HardwareInfo.h"

namespace qorcam::usbdrv {

std::optional<std::uint8_t> FindDeviceGuidIndex(std::span<const std::uint8_t> configuration) {
    std::size_t offset = 0;
    // Two bytes are needed to read a descriptor's length and type.
    while (offset + 2 <= configuration.size()) {
        const std::size_t length = configuration[offset];
        if (length < 2 || offset + length > configuration.size()) return std::nullopt;
        if (configuration[offset + 1] == usb::kDescriptorU3vDeviceInfo) {
            if (length < 12) return std::nullopt;
            return configuration[offset + 11];
        }
        offset += length;
    }
    return std::nullopt;
}

UsbPipes FindPipes(const usb::ConfigurationInfo& configuration) {
    UsbPipes pipes;
    for (const auto& interface : configuration.interfaces) {
        if (interface.alternateSetting != 0) continue;
        for (const auto& endpoint : interface.endpoints) {
            if (!endpoint.IsBulk()) continue;
            switch (interface.interfaceProtocol) {
            case usb::kU3vProtocolEvent:
                if (endpoint.IsIn()) {
                    pipes.event = endpoint.address;
                    pipes.eventMaxPacket = endpoint.maxPacketSize;
                }
                break;
            case usb::kU3vProtocolStream:
                if (endpoint.IsIn()) pipes.stream = endpoint.address;
                break;
            case usb::kU3vProtocolControl:
                if (endpoint.IsIn()) {
                    pipes.controlIn = endpoint.address;
                    pipes.controlInMaxPacket = endpoint.maxPacketSize;
                } else {
                    pipes.controlOut = endpoint.address;
                    pipes.controlOutMaxPacket = endpoint.maxPacketSize;
                }
                break;
            default:
                break;
            }
        }
    }
    return pipes;
}

} // namespace qorcam::usbdrv
