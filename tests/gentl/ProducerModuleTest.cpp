// The producer files as a consumer that loads producers of several makers meets them: each exports
// exactly the GenTL functions (nothing of ours a consumer or another producer could bind to), none of
// its symbols is GNU-unique, and unloading it takes it out of the process.
#include "GenTL.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <set>
#include <string>

namespace {

struct Symbols {
    std::set<std::string> exported; // defined dynamic symbols
    std::set<std::string> unique;   // GNU-unique ones, in either table
    std::string error;
};

// Reads the symbol tables of a 64-bit ELF file.
Symbols ReadSymbols(const std::string& path) {
    Symbols out;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        out.error = "can't open " + path;
        if (fd >= 0) close(fd);
        return out;
    }
    const auto size = static_cast<size_t>(info.st_size);
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (mapped == MAP_FAILED) {
        out.error = "can't map " + path;
        return out;
    }
    const auto* base = static_cast<const unsigned char*>(mapped);
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(base);
    if (size < sizeof(Elf64_Ehdr) || std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0 ||
        header->e_ident[EI_CLASS] != ELFCLASS64 ||
        header->e_shoff + header->e_shnum * sizeof(Elf64_Shdr) > size) {
        out.error = path + " is not a 64-bit ELF file";
        munmap(mapped, size);
        return out;
    }
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(base + header->e_shoff);
    for (unsigned s = 0; s < header->e_shnum; ++s) {
        const Elf64_Shdr& table = sections[s];
        if (table.sh_type != SHT_DYNSYM && table.sh_type != SHT_SYMTAB) continue;
        if (table.sh_link >= header->e_shnum || table.sh_offset + table.sh_size > size) continue;
        const Elf64_Shdr& strings = sections[table.sh_link];
        if (strings.sh_offset + strings.sh_size > size) continue;
        const char* names = reinterpret_cast<const char*>(base + strings.sh_offset);
        const auto* symbols = reinterpret_cast<const Elf64_Sym*>(base + table.sh_offset);
        for (size_t i = 0; i < table.sh_size / sizeof(Elf64_Sym); ++i) {
            const Elf64_Sym& symbol = symbols[i];
            if (symbol.st_name >= strings.sh_size) continue;
            const std::string name(names + symbol.st_name,
                                   strnlen(names + symbol.st_name, strings.sh_size - symbol.st_name));
            if (ELF64_ST_BIND(symbol.st_info) == STB_GNU_UNIQUE) out.unique.insert(name);
            if (table.sh_type == SHT_DYNSYM && symbol.st_shndx != SHN_UNDEF && !name.empty())
                out.exported.insert(name);
        }
    }
    munmap(mapped, size);
    return out;
}

std::set<std::string> GenTLFunctions() {
    std::set<std::string> names;
#define QORCAM_NAME(name, params) names.insert(#name);
    GC_API_FUNCTIONS(QORCAM_NAME)
#undef QORCAM_NAME
    return names;
}

// Whether a file of this name is mapped into this process.
bool Mapped(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.find(name) != std::string::npos) return true;
    }
    return false;
}

class ProducerModuleTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ProducerModuleTest, ExportsExactlyTheGenTLFunctionsAndUnloads) {
    const std::string path = GetParam();
    const Symbols symbols = ReadSymbols(path);
    ASSERT_TRUE(symbols.error.empty()) << symbols.error;
    EXPECT_EQ(symbols.exported, GenTLFunctions());
    EXPECT_TRUE(symbols.unique.empty())
        << symbols.unique.size() << " GNU-unique symbols, e.g. " << *symbols.unique.begin();

    ASSERT_FALSE(Mapped(path));
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    // Used, not only loaded: the library opened and closed again.
    auto init = reinterpret_cast<PGCInitLib>(dlsym(module, "GCInitLib"));
    auto done = reinterpret_cast<PGCCloseLib>(dlsym(module, "GCCloseLib"));
    ASSERT_TRUE(init && done);
    if (init() == GC_ERR_SUCCESS) {
        EXPECT_EQ(done(), GC_ERR_SUCCESS);
    }
    EXPECT_TRUE(Mapped(path));
    ASSERT_EQ(dlclose(module), 0);
    EXPECT_FALSE(Mapped(path)) << path << " stays mapped after it was unloaded";
}

INSTANTIATE_TEST_SUITE_P(Producers, ProducerModuleTest,
                         ::testing::Values(GIGE_PRODUCER_PATH, USB_PRODUCER_PATH),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == GIGE_PRODUCER_PATH ? "GigE" : "USB";
                         });

} // namespace
