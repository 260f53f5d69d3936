// ScriptedCamera: a camera's GigE Vision registers behind the tool's command path, for the logic tests.
#pragma once

#include "GigeDevice.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qorcam::gigeconfig::test {

// Answers the tool's commands as a GigE Vision camera's bootstrap registers
// would: READREG and WRITEREG on 32-bit registers, READMEM and WRITEMEM on
// bytes, FORCEIP accepted. Every command is logged; an address in failAt
// answers with a GVCP error status instead.
class ScriptedCamera : public CGvcpSender {
public:
    struct Command {
        std::uint32_t command, address, value;
        std::uint16_t length, requestId;
        std::uint32_t ip, mask;
    };

    std::map<std::uint32_t, std::uint32_t> registers;
    std::vector<std::uint8_t> memory = std::vector<std::uint8_t>(0x10000);
    std::set<std::uint32_t> failAt;
    // A READMEM that reaches beyond this address answers with no data.
    std::uint32_t memoryEnd = 0x10000;
    std::vector<Command> log;
    std::vector<std::pair<std::vector<std::uint8_t>, std::uint32_t>> cameraIps;

    void SetUrl(const std::string& url) {
        std::fill(memory.begin() + 0x200, memory.begin() + 0x400, 0);
        std::memcpy(memory.data() + 0x200, url.data(), std::min<std::size_t>(url.size(), 512));
    }

    std::uint32_t SendNicCmd(GvcpCommandBlock& b, bool) override {
        std::uint32_t value = 0;
        std::memcpy(&value, b.data, 4);
        log.push_back({b.command, b.address, value, b.length, b.requestId, b.ip, b.mask});
        if (failAt.count(b.address) && b.command != 0) return 0x8FFF;
        switch (b.command) {
        case 1:
            value = registers[b.address];
            std::memcpy(b.data, &value, 4);
            b.length = 4;
            break;
        case 2: {
            if (b.address + b.length > memory.size()) return 0x8003;
            // A read that reaches beyond the end of the camera's memory gets no data at all.
            const std::uint32_t n = b.address + b.length > memoryEnd ? 0 : b.length;
            std::memcpy(b.data, memory.data() + b.address, n);
            b.length = static_cast<std::uint16_t>(n);
            break;
        }
        case 3:
            registers[b.address] = value;
            break;
        case 4:
            if (b.address + b.length > memory.size()) return 0x8003;
            std::memcpy(memory.data() + b.address, b.data, b.length);
            break;
        }
        return 0;
    }
    std::uint32_t SetCameraIp(const std::uint8_t mac[6], std::uint32_t ip) override {
        cameraIps.push_back({std::vector<std::uint8_t>(mac, mac + 6), ip});
        return 0;
    }
};

} // namespace qorcam::gigeconfig::test
