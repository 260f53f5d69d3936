// GenTLProducer: CGenTL, one loaded GenTL producer with its function table and its interfaces.
#include "GenTLProducer.h"

#include "ErrorText.h"
#include "GenTLInterface.h"
#include "LibraryProcess.h"
#include "TraceLog.h"
#include "os/Paths.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qorcam::library {

namespace {

// The environment value is read into a 260-character field: a longer one
// counts as unset.
constexpr std::size_t kEnvironmentMax = 259;
constexpr std::size_t kErrorTextSize = 128;
constexpr std::size_t kInterfaceIdSize = 2048;
constexpr std::uint64_t kListTimeoutMs = 1000;

// Text of a producer answer: up to the returned size (which counts the NUL)
// and never past the buffer.
std::string AnswerText(const char* buffer, std::size_t capacity, std::size_t returned) {
    const std::size_t limit = std::min(returned, capacity);
    return std::string(buffer, strnlen(buffer, limit));
}

// Producers kept mapped to the process's end (never destroyed; the pointer
// keeps them reachable).
std::vector<os::DynamicLibrary>& KeptModules() {
    static auto* kept = new std::vector<os::DynamicLibrary>;
    return *kept;
}

} // namespace

CGenTL::CGenTL(CQorCamDLL& library, std::uint32_t type, const std::string& file)
    : library_(library), type_(type) {
    // By plain name: our own folder first (the build tree keeps everything
    // there), then the installed producer folder beside it, then the
    // system's search.
    const std::string own = os::Paths::ProgramFiles();
    bool loaded = module_.Open(own + "/" + file);
#ifdef QORCAM_GENTL_SUBDIR
    loaded = loaded || module_.Open(own + "/" QORCAM_GENTL_SUBDIR "/" + file);
#endif
    loaded = loaded || module_.Open(file);
    if (!loaded) {
        const char* root = std::getenv("GENICAM_ROOT_V2_4");
        std::string path = file;
        if (root != nullptr && root[0] != '\0' && std::strlen(root) <= kEnvironmentMax) {
            path = std::string(root);
            if (path.back() != '/') path += '/';
            path += "bin/Win64_x64/TLIs/" + file;
        }
        loaded = module_.Open(path);
    }
    if (!loaded) throw CErrorText("GenTL Module Not Found");

    Resolve();

    if (fn.GCInitLib() != GC_ERR_SUCCESS) {
        std::string text = LastErrorText();
        module_.Close();
        throw CErrorText(std::move(text));
    }
    if (fn.TLOpen(&tl_) != GC_ERR_SUCCESS) {
        std::string text = LastErrorText();
        tl_ = nullptr;
        fn.GCCloseLib();
        module_.Close();
        throw CErrorText(std::move(text));
    }
}

void CGenTL::Resolve() {
    bool complete = true;
#define QORCAM_GENTL_RESOLVE(name)                                                                           \
    fn.name = module_.Function<P##name>(#name);                                                              \
    complete = complete && fn.name != nullptr;
    QORCAM_CONSUMED_GENTL_FUNCTIONS(QORCAM_GENTL_RESOLVE)
#undef QORCAM_GENTL_RESOLVE
    if (!complete) {
        fn = GenTLFunctions{};
        module_.Close();
        throw CErrorText("GenTL Load Entry Error");
    }
}

CGenTL::~CGenTL() {
    while (!interfaces_.empty())
        interfaces_.erase(interfaces_.begin());
    if (tl_ != nullptr) fn.TLClose(tl_);
    fn.GCCloseLib();
    // While the process ends the producer stays mapped: unloading it now
    // could unload this library too, under the code that runs this.
    if (CLibraryProcess::Exiting()) {
        KeptModules().push_back(std::move(module_));
    } else {
        module_.Close();
    }
}

std::string CGenTL::LastErrorText() {
    char text[kErrorTextSize] = {};
    GC_ERROR code = GC_ERR_SUCCESS;
    std::size_t size = sizeof text;
    if (fn.GCGetLastError == nullptr || fn.GCGetLastError(&code, text, &size) != GC_ERR_SUCCESS) return {};
    return AnswerText(text, sizeof text, size);
}

void CGenTL::UpdateInterface() {
    static constexpr char kName[] = "CGenTL::UpdateInterface";
    bool8_t changed = 0;
    if (fn.TLUpdateInterfaceList(tl_, &changed, kListTimeoutMs) != GC_ERR_SUCCESS) {
        TraceClass(1, kName, LastErrorText().c_str());
        return;
    }
    if (!changed) return;
    std::uint32_t count = 0;
    if (fn.TLGetNumInterfaces(tl_, &count) != GC_ERR_SUCCESS) {
        TraceClass(1, kName, LastErrorText().c_str());
        return;
    }

    std::vector<std::unique_ptr<CInterface>> aside = std::move(interfaces_);
    interfaces_.clear();
    for (std::uint32_t index = 0; index < count; ++index) {
        char buffer[kInterfaceIdSize] = {};
        std::size_t size = sizeof buffer;
        if (fn.TLGetInterfaceID(tl_, index, buffer, &size) != GC_ERR_SUCCESS) {
            TraceClass(1, kName, LastErrorText().c_str());
            continue;
        }
        const std::string id = AnswerText(buffer, sizeof buffer, size);

        auto kept = std::find_if(aside.begin(), aside.end(),
                                 [&](const std::unique_ptr<CInterface>& i) { return i && i->Id() == id; });
        if (kept != aside.end()) {
            interfaces_.push_back(std::move(*kept));
            continue;
        }

        IF_HANDLE handle = nullptr;
        if (fn.TLOpenInterface(tl_, id.c_str(), &handle) != GC_ERR_SUCCESS) {
            TraceClass(1, kName, LastErrorText().c_str());
            continue;
        }
        std::unique_ptr<CInterface> opened;
        try {
            opened = std::make_unique<CInterface>(*this, handle, id);
        } catch (const CErrorText& error) {
            TraceClass(1, kName, error.Text());
            fn.IFClose(handle);
        } catch (...) {
            TraceClass(1, kName, "Other Error");
            fn.IFClose(handle);
        }
        if (opened) interfaces_.push_back(std::move(opened));
    }
    // What the producer no longer lists: threads stopped, cameras closed, IFClose.
    aside.clear();
}

} // namespace qorcam::library
