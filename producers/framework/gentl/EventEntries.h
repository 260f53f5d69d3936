// The kinds of entries that event queues hold, each with the data a consumer receives.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace GenICam::Client {

// Every entry kind answers DataSize() (the bytes EventGetData needs) and CopyTo(buffer, size), which
// writes exactly DataSize() bytes and sets the size the consumer is told.

// The MAC address of a camera that acknowledged an action command.
struct AckDataEntry {
    explicit AckDataEntry(uint64_t v) : value(v) {}
    virtual ~AckDataEntry() = default;
    size_t DataSize() const { return sizeof value; }
    void CopyTo(void* buffer, size_t* size) const {
        std::memcpy(buffer, &value, sizeof value);
        *size = sizeof value;
    }
    uint64_t value;
};

// A bus event code (BUS_EVENT_RESET, BUS_EVENT_POWER_UP, or 0 for any other outcome).
struct BusEventEventEntry {
    explicit BusEventEventEntry(uint32_t c) : code(c) {}
    virtual ~BusEventEventEntry() = default;
    size_t DataSize() const { return sizeof code; }
    void CopyTo(void* buffer, size_t* size) const {
        std::memcpy(buffer, &code, sizeof code);
        *size = sizeof code;
    }
    uint32_t code;
};

// One camera event record, exactly as the driver delivered it.
struct EventDataEntry {
    EventDataEntry(const void* data, size_t n)
        : bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + n) {}
    virtual ~EventDataEntry() = default;
    size_t DataSize() const { return bytes.size(); }
    void CopyTo(void* buffer, size_t* size) const {
        if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
        *size = bytes.size();
    }
    std::vector<uint8_t> bytes;
};

// An error of a module's own thread: code (0 in every entry the producer makes) and text. Delivered as
// the code (4 bytes), then the text and its terminating zero.
struct ErrorEventEntry {
    explicit ErrorEventEntry(std::string t) : code(0), text(std::move(t)) {}
    virtual ~ErrorEventEntry() = default;
    size_t DataSize() const { return sizeof code + text.size() + 1; }
    void CopyTo(void* buffer, size_t* size) const {
        auto* out = static_cast<uint8_t*>(buffer);
        const uint32_t c = static_cast<uint32_t>(code);
        std::memcpy(out, &c, sizeof c);
        std::memcpy(out + sizeof c, text.c_str(), text.size() + 1);
        *size = DataSize();
    }
    int32_t code;
    std::string text;
};

} // namespace GenICam::Client
