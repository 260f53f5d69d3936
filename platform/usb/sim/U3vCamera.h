// U3vCamera: a simulated USB3 Vision camera: descriptors, GenCP registers, events, streaming and faults.
#pragma once

#include "SimDeviceServer.h"
#include "UsbFunction.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qorcam::usb::sim {

struct CameraOptions {
    std::string name;
    std::string vendor = "QorCam";
    std::string model = "QorU3vSim";
    std::string family = "Simulated";
    std::string deviceVersion = "1.0.0";
    std::string manufacturerInfo = "Simulated USB3 Vision camera";
    std::string serial; ///< decimal digits; made from the name when empty
    std::string guid;   ///< 12 hexadecimal digits; made from the name when empty
    std::string userDefinedName;
    std::uint32_t width = 640;
    std::uint32_t height = 480;
    std::uint32_t pixelFormat = 0x01080001;
    std::uint32_t framesPerSecond = 50;
    bool usb2 = false; ///< a USB 2.0 link: 512-byte bulk packets
    bool zip = false;  ///< the description is zipped
    bool eventInterface = true;
    bool deviceInfo = true; ///< the configuration carries the device-info descriptor
    // Faults, also set later by commands.
    std::uint32_t dropAcks = 0;
    std::uint32_t pendingAcks = 0;
    std::uint32_t pendingTimeoutMs = 0;
    std::uint32_t pendingDelayMs = 0;
    std::uint32_t disconnectAfterBlocks = 0;
};

/// The camera behind a SimDeviceServer. Behaves as the USB3 Vision standard
/// asks: one control interface (bulk OUT 0x01, IN 0x81), an event interface
/// (IN 0x82) and a streaming interface (IN 0x83); GenCP READMEM and WRITEMEM
/// with GenCP status codes; a resent command (resend flag, same request id)
/// is answered with the acknowledge already made, not executed again;
/// blocks (leader, payload in the SIRM's transfer sizes, trailer) while the
/// stream interface is enabled and acquisition runs, at most one block
/// waiting on the endpoint (frames beyond that are dropped, block ids stay
/// consecutive).
class U3vCamera final : public UsbFunction {
public:
    explicit U3vCamera(CameraOptions options);
    void Attach(SimDeviceServer& server) { server_ = &server; }

    std::vector<std::uint8_t> DeviceDescriptor() const override;
    std::vector<std::uint8_t> ConfigurationDescriptor() const override { return configuration_; }
    std::optional<std::u16string> String(std::uint8_t index) const override;
    void OnBulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data) override;
    void OnHaltCleared(std::uint8_t endpoint) override;
    void OnReleased() override;
    std::string OnCommand(const std::string& text) override;

    /// GenCP status of a memory read of length bytes at address into out.
    std::uint16_t ReadMemory(std::uint64_t address, std::uint32_t length,
                             std::vector<std::uint8_t>& out) const;
    /// GenCP status of a memory write.
    std::uint16_t WriteMemory(std::uint64_t address, std::span<const std::uint8_t> data);

private:
    struct Region {
        std::uint64_t base = 0;
        std::vector<std::uint8_t> bytes;
    };
    struct Layout {
        std::uint32_t size = 0, count = 0, final1 = 0, final2 = 0;
    };

    void BuildConfiguration();
    void BuildMemory();
    const Region* FindRegion(std::uint64_t address, std::uint64_t length) const;
    std::uint16_t WriteRegister(const Region& region, std::uint64_t offset, std::uint32_t value);
    std::uint32_t Get32(const Region& region, std::uint64_t offset) const;
    void Set32(Region& region, std::uint64_t offset, std::uint32_t value);
    void Set64(Region& region, std::uint64_t offset, std::uint64_t value);
    void SetString(Region& region, std::uint64_t offset, const std::string& text);
    std::string GetString(const Region& region, std::uint64_t offset) const;
    void UpdateImageSize();
    std::uint16_t MaxPacket() const { return options_.usb2 ? 512 : 1024; }
    std::uint64_t Timestamp() const;

    void HandleCommand(std::span<const std::uint8_t> packet);
    void Deliver(std::vector<std::uint8_t> ack);
    bool SendEvent(std::uint16_t id, bool twice);
    void UpdateStreaming();
    void FrameTick(std::uint64_t generation);
    void SendBlock();

    CameraOptions options_;
    SimDeviceServer* server_ = nullptr;
    std::vector<std::uint8_t> configuration_;
    Region abrm_, sbrm_, sirm_, eirm_, manifest_, features_, description_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();

    std::uint16_t lastRequestId_ = 0;
    std::vector<std::uint8_t> lastAck_;
    std::uint16_t eventRequestId_ = 0;
    std::uint32_t eventAcks_ = 0;

    bool acquiring_ = false;
    bool streaming_ = false;
    Layout layout_;
    std::uint64_t blockId_ = 0;
    std::uint64_t blocksSent_ = 0;
    std::uint64_t framesDropped_ = 0;
    std::uint64_t generation_ = 0;
};

} // namespace qorcam::usb::sim
