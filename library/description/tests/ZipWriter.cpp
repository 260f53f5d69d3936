// ZipWriter: minizip's writer into a temporary file, read back as bytes.
#include "ZipWriter.h"

#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace qorcam::description::testing {

std::vector<uint8_t> MakeZip(const std::vector<ZipFile>& files) {
    char path[] = "/tmp/qorcam-zip-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) throw std::runtime_error("mkstemp");
    close(fd);
    zipFile zf = zipOpen64(path, APPEND_STATUS_CREATE);
    if (!zf) throw std::runtime_error("zipOpen64");
    for (const ZipFile& f : files) {
        zip_fileinfo info{};
        info.tmz_date = {0, 30, 12, 10, 11, 2026};
        info.external_fa = f.externalAttributes;
        unsigned long crc =
            crc32(0, reinterpret_cast<const Bytef*>(f.content.data()), static_cast<uInt>(f.content.size()));
        int rc = zipOpenNewFileInZip4(
            zf, f.name.c_str(), &info, f.localExtra.empty() ? nullptr : f.localExtra.data(),
            static_cast<uInt>(f.localExtra.size()), nullptr, 0, nullptr, Z_DEFLATED, 6, 0, -MAX_WBITS,
            DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, f.password, crc, (static_cast<uLong>(f.madeBy) << 8) | 20, 0);
        if (rc != ZIP_OK) throw std::runtime_error("zipOpenNewFileInZip4");
        zipWriteInFileInZip(zf, f.content.data(), static_cast<unsigned>(f.content.size()));
        zipCloseFileInZip(zf);
    }
    zipClose(zf, nullptr);
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path);
    return bytes;
}

} // namespace qorcam::description::testing
