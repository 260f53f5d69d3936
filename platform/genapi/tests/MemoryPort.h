// MemoryPort: a port over a byte array, for tests of the node map.
#pragma once

#include "genapi/Interfaces.h"

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace qorcam::genapi::testing {

/// Device memory of a fixed size; accesses outside it throw like a device
/// that refuses them. Counts reads and writes so tests can see the cache.
class MemoryPort : public IPort {
public:
    explicit MemoryPort(size_t size = 0x10000, EAccessMode mode = RW) : memory(size), mode_(mode) {}

    void Read(void* buffer, int64_t address, int64_t length) override {
        Check(address, length);
        std::memcpy(buffer, memory.data() + address, static_cast<size_t>(length));
        ++reads;
    }
    void Write(const void* buffer, int64_t address, int64_t length) override {
        Check(address, length);
        if (mode_ == RO) throw std::runtime_error("read-only port");
        std::memcpy(memory.data() + address, buffer, static_cast<size_t>(length));
        ++writes;
    }
    EAccessMode GetAccessMode() override { return mode_; }

    void Put32BE(size_t address, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            memory.at(address + i) = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
    uint32_t Get32BE(size_t address) const {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | memory.at(address + i);
        return v;
    }
    void Put32LE(size_t address, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            memory.at(address + i) = static_cast<uint8_t>(v >> (8 * i));
    }
    uint32_t Get32LE(size_t address) const {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | memory.at(address + i);
        return v;
    }

    std::vector<uint8_t> memory;
    int reads = 0;
    int writes = 0;
    bool fail = false;

private:
    void Check(int64_t address, int64_t length) {
        if (fail) throw std::runtime_error("Unable to Read Register");
        if (address < 0 || length < 0 ||
            static_cast<uint64_t>(address) + static_cast<uint64_t>(length) > memory.size())
            throw std::runtime_error("address out of device memory");
    }
    EAccessMode mode_;
};

/// Wraps the nodes of a test description in the document element.
inline std::string Description(const std::string& nodes) {
    return "<?xml version=\"1.0\"?>\n<RegisterDescription ModelName=\"T\" VendorName=\"T\" "
           "SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\" "
           "xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n" +
           nodes + "\n<Port Name=\"Device\"/>\n</RegisterDescription>\n";
}

} // namespace qorcam::genapi::testing
