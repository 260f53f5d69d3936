// The producer-wide last error that GCGetLastError reports.
#include "gentl/CTLIError.h"

#include <cstring>
#include <mutex>
#include <optional>

namespace GenICam::Client {
namespace {

struct Record {
    GC_ERROR code;
    std::string text;
};

std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

std::optional<Record>& Stored() {
    static std::optional<Record> record;
    return record;
}

} // namespace

void CTLIError::Set(GC_ERROR code, const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock());
    Stored() = Record{code, text};
}

void CTLIError::Clear() {
    std::lock_guard<std::mutex> guard(Lock());
    Stored().reset();
}

GC_ERROR CTLIError::Get(GC_ERROR* code, char* text, size_t* size) {
    std::lock_guard<std::mutex> guard(Lock());
    const std::optional<Record>& record = Stored();
    if (!record) return GC_ERR_NO_DATA;
    if (!size) return GC_ERR_INVALID_PARAMETER;
    const size_t needed = record->text.size() + 1;
    if (text && *size > 0) {
        // A short buffer receives the text cut to fit, always terminated.
        const size_t n = std::min(*size - 1, record->text.size());
        std::memcpy(text, record->text.data(), n);
        text[n] = '\0';
    }
    *size = needed;
    if (code) *code = record->code;
    return GC_ERR_SUCCESS;
}

} // namespace GenICam::Client
