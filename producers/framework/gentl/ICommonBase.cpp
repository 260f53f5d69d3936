// The object model behind every GenTL module handle: port, event source and their common base.
#include "gentl/ICommonBase.h"

#include "gentl/HandleRegistry.h"

namespace GenICam::Client {

ICommonBase::ICommonBase() {
    HandleRegistry::AddModule(this);
}

ICommonBase::~ICommonBase() {
    HandleRegistry::RemoveModule(this);
}

void ICommonBase::Read(uint64_t, void*, size_t* size) {
    *size = 0;
}

void ICommonBase::Write(uint64_t, const void*, size_t* size) {
    *size = 0;
}

void ICommonBase::ReadRegister(uint64_t, uint32_t*) {}

void ICommonBase::WriteRegister(uint64_t, uint32_t) {}

void ICommonBase::GetURL(char*, size_t* size) {
    *size = 0;
}

void ICommonBase::GetNumURLs(uint32_t* count) {
    *count = 0;
}

void ICommonBase::GetURLInfo(uint32_t, URL_INFO_CMD, INFO_DATATYPE*, void*, size_t* size) {
    *size = 0;
}

void ICommonBase::RegisterEvent(EVENT_TYPE, EVENT_HANDLE* event) {
    *event = nullptr;
}

void ICommonBase::UnregisterEvent(EVENT_TYPE) {}

} // namespace GenICam::Client
