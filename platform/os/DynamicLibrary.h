// DynamicLibrary: loading a shared object at run time and finding its symbols.
#pragma once

#include <string>

namespace qorcam::os {

/// A shared object loaded at run time, unloaded when this object is destroyed.
///
/// Guarantees: symbols resolve immediately at load (a library with a missing
/// dependency fails to open rather than failing later); a name without a '/'
/// is searched by the system loader's rules and then in ProgramFiles (the
/// folder of our own binaries); ErrorText() keeps the loader's message of the
/// last failure.
class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    /// Loads the shared object (closing one held before). False on failure.
    bool Open(const std::string& nameOrPath);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }

    /// Address of a symbol, or null when it is not exported.
    void* Symbol(const char* name);
    /// Typed form of Symbol for function pointers: Function<int (*)(int)>("f").
    template <typename F> F Function(const char* name) { return reinterpret_cast<F>(Symbol(name)); }

    const std::string& ErrorText() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string error_;
};

} // namespace qorcam::os
