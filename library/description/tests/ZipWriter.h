// ZipWriter: builds small zip archives in memory for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorcam::description::testing {

struct ZipFile {
    ZipFile(std::string n, std::string c, std::vector<uint8_t> extra = {}, const char* pw = nullptr,
            uint16_t host = 0, uint32_t attributes = 0)
        : name(std::move(n)), content(std::move(c)), localExtra(std::move(extra)), password(pw), madeBy(host),
          externalAttributes(attributes) {}
    std::string name;
    std::string content;
    std::vector<uint8_t> localExtra;
    const char* password = nullptr;
    uint16_t madeBy = 0; // host byte of "version made by"
    uint32_t externalAttributes = 0;
};

/// The bytes of an archive holding the files in order.
std::vector<uint8_t> MakeZip(const std::vector<ZipFile>& files);

} // namespace qorcam::description::testing
