// DynamicLibrary: dlopen with an immediate bind and a fallback to our own folder.
#include "os/DynamicLibrary.h"

#include "os/Paths.h"

#include <dlfcn.h>
#include <unistd.h>
#include <utility>

namespace qorcam::os {
namespace {

std::string LastDlError() {
    const char* text = dlerror();
    return text != nullptr ? std::string(text) : std::string("unknown loader error");
}

} // namespace

DynamicLibrary::~DynamicLibrary() {
    Close();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept {
    *this = std::move(other);
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, nullptr);
        error_ = std::move(other.error_);
        other.error_.clear();
    }
    return *this;
}

bool DynamicLibrary::Open(const std::string& nameOrPath) {
    Close();
    error_.clear();
    if (nameOrPath.empty()) {
        error_ = "empty library name";
        return false;
    }
    handle_ = dlopen(nameOrPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ != nullptr) return true;
    error_ = LastDlError();
    if (nameOrPath.find('/') != std::string::npos) return false;
    // Like the system's own search, which looks in the program's folder
    // first: our plug-ins sit beside our binaries.
    const std::string local = Paths::ProgramFiles() + "/" + nameOrPath;
    handle_ = dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ != nullptr) {
        error_.clear();
        return true;
    }
    // The file exists there but failed to load: that message says more.
    if (access(local.c_str(), F_OK) == 0) error_ = LastDlError();
    return false;
}

void DynamicLibrary::Close() {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
}

void* DynamicLibrary::Symbol(const char* name) {
    if (handle_ == nullptr || name == nullptr) return nullptr;
    dlerror();
    void* address = dlsym(handle_, name);
    if (address == nullptr) error_ = LastDlError();
    return address;
}

} // namespace qorcam::os
