// A minimal GenTL consumer for tests: loads a producer with dlopen and resolves its exports by name.
#pragma once

#include "GenTL.h"

#include <dlfcn.h>
#include <stdexcept>
#include <string>

namespace qorcam::testing {

// Loads the producer at `path` on construction (throws when it or one of the 55 functions is missing)
// and unloads it on destruction. Every export is reachable as a member of the same name.
class GenTLConsumer {
public:
    explicit GenTLConsumer(const std::string& path, int flags = RTLD_NOW | RTLD_LOCAL) {
        m_module = dlopen(path.c_str(), flags);
        if (!m_module) throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
#define GC_RESOLVE(name, params)                                                                             \
    name = reinterpret_cast<P##name>(dlsym(m_module, #name));                                                \
    if (!name) Fail(#name);
        GC_API_FUNCTIONS(GC_RESOLVE)
#undef GC_RESOLVE
    }
    ~GenTLConsumer() {
        if (m_module) dlclose(m_module);
    }
    GenTLConsumer(const GenTLConsumer&) = delete;
    GenTLConsumer& operator=(const GenTLConsumer&) = delete;

    void* Symbol(const char* name) const {
        return dlsym(m_module, name);
    }

    // The last-error code and text, or {-1008, ""} when the producer reports none.
    std::pair<GC_ERROR, std::string> LastError() const {
        char text[1024] = {};
        size_t size = sizeof text;
        GC_ERROR code = 0;
        if (GCGetLastError(&code, text, &size) != GC_ERR_SUCCESS) return {GC_ERR_NO_DATA, std::string()};
        return {code, std::string(text)};
    }

    // A STRING info value through any of the info exports, read with a size query first.
    template <class F> std::string InfoText(F&& query) const {
        size_t size = 0;
        INFO_DATATYPE type = -1;
        if (query(&type, nullptr, &size) != GC_ERR_SUCCESS) throw std::runtime_error("size query failed");
        if (type != INFO_DATATYPE_STRING) throw std::runtime_error("not a STRING value");
        std::string text(size, '\0');
        if (query(&type, text.data(), &size) != GC_ERR_SUCCESS) throw std::runtime_error("read failed");
        if (size == 0 || text[size - 1] != '\0') throw std::runtime_error("text not terminated");
        text.resize(size - 1);
        return text;
    }

#define GC_MEMBER(name, params) P##name name = nullptr;
    GC_API_FUNCTIONS(GC_MEMBER)
#undef GC_MEMBER

private:
    void Fail(const char* name) {
        dlclose(m_module);
        m_module = nullptr;
        throw std::runtime_error(std::string("missing export ") + name);
    }
    void* m_module = nullptr;
};

} // namespace qorcam::testing
