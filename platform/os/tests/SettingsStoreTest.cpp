// Tests of the settings store: values, keys, the file form and concurrent writers.
#include "TestSupport.h"

#include "os/Paths.h"
#include "os/SettingsStore.h"
#include "os/Thread.h"

#include <fstream>
#include <memory>
#include <sstream>

namespace qorcam::os {
namespace {

constexpr const char* kGige = "System\\CurrentControlSet\\Services\\QORGIGE\\Parameters";
constexpr const char* kUsb = "System\\CurrentControlSet\\Services\\QORUSBDRV\\Parameters";

class SettingsStoreTest : public test::RootFixture {
protected:
    std::string ReadText(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
};

TEST_F(SettingsStoreTest, HivesAreSeparateFilesUnderTheRoot) {
    SettingsStore machine(SettingsStore::Hive::Machine);
    SettingsStore user(SettingsStore::Hive::User);
    EXPECT_EQ(machine.FilePath(), root_ + "/etc/machine.ini");
    EXPECT_EQ(user.FilePath(), root_ + "/user/user.ini");
    ASSERT_TRUE(machine.SetString(kUsb, "MONITORPATH", "/opt/qorcam/bin/QorCamMonitor"));
    EXPECT_EQ(machine.GetString(kUsb, "MONITORPATH"), "/opt/qorcam/bin/QorCamMonitor");
    EXPECT_FALSE(user.GetString(kUsb, "MONITORPATH").has_value());
}

TEST_F(SettingsStoreTest, ValuesRoundTripByTypeAndNameCaseIsIgnored) {
    SettingsStore store(SettingsStore::Hive::Machine);
    ASSERT_TRUE(store.SetDword(kGige, "CMDTIMEOUT", 200));
    ASSERT_TRUE(store.SetDword(kGige, "DHCPRELEASETIME", 0xFFFFFFFFu));
    ASSERT_TRUE(store.SetString(kGige, "PATH", ""));
    ASSERT_TRUE(store.SetBinary(kGige, "Blob", {0x00, 0x7F, 0x80, 0xFF}));
    ASSERT_TRUE(store.SetBinary(kGige, "Empty", {}));

    const std::string lower = "system\\currentcontrolset\\services\\qorgige\\parameters";
    EXPECT_EQ(store.GetDword(lower, "cmdtimeout"), 200u);
    EXPECT_EQ(store.GetDword(kGige, "DhcpReleaseTime"), 0xFFFFFFFFu);
    EXPECT_EQ(store.GetString(kGige, "path"), "");
    EXPECT_EQ(store.GetBinary(kGige, "BLOB"), (std::vector<std::uint8_t>{0x00, 0x7F, 0x80, 0xFF}));
    EXPECT_EQ(store.GetBinary(kGige, "Empty"), std::vector<std::uint8_t>{});
    // Another type than asked for reads as absent, and so does a missing value.
    EXPECT_FALSE(store.GetString(kGige, "CMDTIMEOUT").has_value());
    EXPECT_FALSE(store.GetDword(kGige, "PATH").has_value());
    EXPECT_FALSE(store.GetDword(kGige, "LISTWAIT").has_value());
    // Rewriting under another case keeps one value with the first spelling.
    ASSERT_TRUE(store.SetString(kGige, "cmdtimeout", "now a string"));
    EXPECT_EQ(store.EnumValues(kGige),
              (std::vector<std::string>{"CMDTIMEOUT", "DHCPRELEASETIME", "PATH", "Blob", "Empty"}));
    EXPECT_EQ(store.GetString(kGige, "CMDTIMEOUT"), "now a string");
}

TEST_F(SettingsStoreTest, AwkwardNamesAndStringsSurviveTheFile) {
    SettingsStore store(SettingsStore::Hive::User);
    const std::pair<std::string, std::string> cases[] = {
        {"", "default value"},
        {"@", "at"},
        {"a=b", "x=y"},
        {" padded ", " padded "},
        {";comment", "line\nbreak\r\ttab"},
        {"[section]", "back\\slash\\n"},
        {"#hash", "C:\\Program Files\\QorCam"},
        {"Ünïcödé", "ünïcödé ✓"},
    };
    for (const auto& [name, value] : cases)
        ASSERT_TRUE(store.SetString("Software\\Odd", name, value)) << name;
    // Read back by a fresh store: everything went through the text.
    SettingsStore again(SettingsStore::Hive::User);
    for (const auto& [name, value] : cases)
        EXPECT_EQ(again.GetString("Software\\Odd", name), value) << name;
    EXPECT_EQ(again.EnumValues("Software\\Odd").size(), std::size(cases));
    // Strings and names hold no NUL; the key path must name a key.
    EXPECT_FALSE(store.SetString("Software\\Odd", "nul", std::string_view("a\0b", 3)));
    EXPECT_FALSE(store.SetString("Software\\Odd", std::string_view("n\0", 2), "x"));
    EXPECT_FALSE(store.SetDword("\\\\", "x", 1));
    EXPECT_FALSE(store.SetDword("Bad\nKey", "x", 1));
    EXPECT_FALSE(store.CreateKey("Bad\rKey"));
    EXPECT_FALSE(store.KeyExists("Bad"));
}

TEST_F(SettingsStoreTest, KeysNestEnumerateAndDelete) {
    SettingsStore store(SettingsStore::Hive::Machine);
    ASSERT_TRUE(store.SetDword(kGige, "DHCP", 1));
    ASSERT_TRUE(store.SetString(kUsb, "MONITORPATH", "/m"));
    ASSERT_TRUE(store.CreateKey("\\Software\\\\QorCam\\Viewer\\"));
    EXPECT_TRUE(store.CreateKey("Software\\QorCam\\Viewer"));

    EXPECT_TRUE(store.KeyExists("software\\qorcam"));
    EXPECT_TRUE(store.KeyExists("System\\CurrentControlSet\\Services"));
    EXPECT_FALSE(store.KeyExists("System\\CurrentControlSet\\Services\\QORGIG"));
    EXPECT_EQ(store.EnumSubkeys(""), (std::vector<std::string>{"System", "Software"}));
    EXPECT_EQ(store.EnumSubkeys("system\\currentcontrolset\\services"),
              (std::vector<std::string>{"QORGIGE", "QORUSBDRV"}));
    EXPECT_TRUE(store.EnumSubkeys("Software\\QorCam\\Viewer").empty());
    EXPECT_TRUE(store.EnumValues("Software\\QorCam\\Viewer").empty());
    EXPECT_TRUE(store.EnumValues("No\\Such\\Key").empty());

    EXPECT_TRUE(store.DeleteValue(kGige, "dhcp"));
    EXPECT_FALSE(store.DeleteValue(kGige, "dhcp"));
    EXPECT_FALSE(store.DeleteValue("No\\Such\\Key", "dhcp"));
    EXPECT_TRUE(store.KeyExists(kGige)); // an emptied key stays

    EXPECT_TRUE(store.DeleteKey("System\\CurrentControlSet\\Services"));
    EXPECT_FALSE(store.KeyExists(kUsb));
    EXPECT_FALSE(store.KeyExists(kGige));
    EXPECT_FALSE(store.DeleteKey("System"));
    EXPECT_FALSE(store.DeleteKey(""));
    EXPECT_TRUE(store.KeyExists("Software\\QorCam\\Viewer"));
}

TEST_F(SettingsStoreTest, HandWrittenFileIsReadAndItsCommentsAndOddLinesKept) {
    SettingsStore store(SettingsStore::Hive::Machine);
    WriteText(store.FilePath(), "; written by hand\r\n"
                                "[System\\CurrentControlSet\\Services\\QORGIGE\\Parameters]\r\n"
                                "  CMDRETRY = dword:3\r\n"
                                "LISTWAIT=DWORD:0X1F4\n"
                                "# keep me\n"
                                "this line means nothing\n"
                                "TOOBIG=dword:0x100000000\n"
                                "ODD=binary:0a 0\n"
                                "STREAMRETRY=qword:5\n"
                                "PATH=string:/data/prof.dat\n"
                                "\n"
                                "[Software\\Other]\n"
                                "@=string:default\n");
    EXPECT_EQ(store.GetDword(kGige, "CMDRETRY"), 3u);
    EXPECT_EQ(store.GetDword(kGige, "LISTWAIT"), 500u);
    EXPECT_EQ(store.GetString(kGige, "PATH"), "/data/prof.dat");
    EXPECT_EQ(store.GetString("Software\\Other", ""), "default");
    for (const char* bad : {"TOOBIG", "ODD", "STREAMRETRY"})
        EXPECT_FALSE(store.Get(kGige, bad).has_value()) << bad;

    ASSERT_TRUE(store.SetDword(kGige, "CMDRETRY", 4));
    const std::string text = ReadText(store.FilePath());
    for (const char* kept :
         {"; written by hand", "# keep me", "this line means nothing", "TOOBIG=dword:0x100000000",
          "STREAMRETRY=qword:5", "CMDRETRY=dword:0x00000004"}) {
        EXPECT_NE(text.find(kept), std::string::npos) << kept << "\n" << text;
    }
    EXPECT_EQ(store.GetDword(kGige, "LISTWAIT"), 500u);
}

TEST_F(SettingsStoreTest, OversizedOrMissingFiles) {
    SettingsStore missing(root_ + "/nowhere/deeper/settings.ini");
    EXPECT_FALSE(missing.GetDword(kGige, "DHCP").has_value());
    EXPECT_TRUE(missing.EnumSubkeys("").empty());
    EXPECT_TRUE(missing.SetDword(kGige, "DHCP", 1)); // folders made on demand
    EXPECT_EQ(missing.GetDword(kGige, "DHCP"), 1u);

    SettingsStore huge(root_ + "/huge.ini");
    {
        std::ofstream out(huge.FilePath());
        out << "[K]\nv=dword:1\n";
        const std::string filler(1 << 20, ';');
        for (int i = 0; i < 17; ++i)
            out << filler << "\n";
    }
    EXPECT_FALSE(huge.GetDword("K", "v").has_value());
    EXPECT_FALSE(huge.SetDword("K", "w", 2)); // refused, and nothing lost
    EXPECT_GT(std::filesystem::file_size(huge.FilePath()), 16u << 20);
}

TEST_F(SettingsStoreTest, PlantedTemporaryLinksAndLeftoversAreNeverWrittenThrough) {
    const std::string file = root_ + "/planted.ini";
    const std::string victim = root_ + "/victim.txt";
    {
        std::FILE* f = std::fopen(victim.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("keep me\n", f);
        std::fclose(f);
    }
    ASSERT_EQ(symlink(victim.c_str(), (file + ".tmp").c_str()), 0);
    SettingsStore store(file);
    ASSERT_TRUE(store.SetString(kGige, "PATH", "/p"));
    EXPECT_EQ(store.GetString(kGige, "PATH"), "/p");
    std::ifstream in(victim);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "keep me\n");
    struct stat st {};
    EXPECT_NE(lstat((file + ".tmp").c_str(), &st), 0) << "nothing is left behind";

    // A lock file that is a link is not opened either.
    const std::string linked = root_ + "/linked.ini";
    ASSERT_EQ(symlink(victim.c_str(), (linked + ".lock").c_str()), 0);
    EXPECT_FALSE(SettingsStore(linked).SetString(kGige, "PATH", "/q"));
}

TEST_F(SettingsStoreTest, WritersInSeveralProcessesAndThreadsLoseNothing) {
    constexpr int kPerWriter = 40;
    std::vector<Process> children;
    for (const char* prefix : {"a", "b", "c"}) {
        auto child = SpawnChild("settings-writer", {prefix, std::to_string(kPerWriter)});
        ASSERT_TRUE(child.has_value());
        children.push_back(std::move(*child));
    }
    std::vector<std::unique_ptr<Thread>> threads;
    for (const char* prefix : {"t", "u"}) {
        threads.push_back(std::make_unique<Thread>());
        ASSERT_TRUE(threads.back()->Start([prefix] {
            SettingsStore store(SettingsStore::Hive::Machine);
            for (int i = 0; i < kPerWriter; ++i) {
                EXPECT_TRUE(store.SetDword("Software\\Race", prefix + std::to_string(i),
                                           static_cast<std::uint32_t>(i)));
            }
        }));
    }
    for (auto& t : threads)
        t->Join();
    for (auto& c : children)
        EXPECT_EQ(test::ExitCodeOf(c, 60000), 0);

    SettingsStore store(SettingsStore::Hive::Machine);
    EXPECT_EQ(store.EnumValues("Software\\Race").size(), 5u * kPerWriter);
    for (const char* prefix : {"a", "b", "c", "t", "u"}) {
        for (int i = 0; i < kPerWriter; ++i) {
            EXPECT_EQ(store.GetDword("Software\\Race", prefix + std::to_string(i)),
                      static_cast<std::uint32_t>(i));
        }
    }
}

} // namespace
} // namespace qorcam::os
