// SharedData: CSharedData, the library's data shared by every process that loads it.
#include "SharedData.h"

#include <algorithm>
#include <cstring>

namespace qorcam::library {

const char* LibraryBuildDate() {
    return __DATE__;
}

namespace {

void Stamp(shared::SharedDataSection& data) {
    std::memset(data.buildDate, 0, sizeof data.buildDate);
    const char* date = LibraryBuildDate();
    std::memcpy(data.buildDate, date, std::min(std::strlen(date), sizeof data.buildDate - 1));
}

} // namespace

CSharedData::CSharedData() {
    Stamp(local_);
}

void CSharedData::Open() {
    area_ = os::SharedMemory(shared::kSharedDataName, sizeof(shared::SharedDataSection));
    if (!area_.IsValid()) return;
    data_ = static_cast<shared::SharedDataSection*>(area_.Data());
    if (!area_.AlreadyExisted()) Stamp(*data_);
    // Whatever another process left there, the text stays terminated.
    data_->buildDate[sizeof data_->buildDate - 1] = '\0';
}

void CSharedData::Close() {
    data_ = &local_;
    area_.Close();
}

} // namespace qorcam::library
