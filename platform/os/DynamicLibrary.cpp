// DynamicLibrary: stub.
#include "os/DynamicLibrary.h"

#include <utility>

namespace qorcam::os {

DynamicLibrary::~DynamicLibrary() { Close(); }
DynamicLibrary::DynamicLibrary(DynamicLibrary&& o) noexcept { *this = std::move(o); }
DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&&) noexcept { return *this; }
bool DynamicLibrary::Open(const std::string&) { return false; }
void DynamicLibrary::Close() {}
void* DynamicLibrary::Symbol(const char*) { return nullptr; }

} // namespace qorcam::os
