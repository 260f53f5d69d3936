// INI files read and written whole: look-up rules, values that read back as written, refused files.
#include "IniDocument.h"
#include "IniFile.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace qorcam::viewer;
namespace fs = std::filesystem;

namespace {

using qorcam::viewer::testing::TempFolder;

} // namespace

TEST(IniDocument, LooksUpSectionsAndKeysAsTheViewerAlwaysHas) {
    IniDocument d;
    d.Parse("\xEF\xBB\xBF; a comment\n"
            "stray=before any section\n"
            "[File Info]\r\n"
            "  Camera Name =  Cam 1  \r\n"
            "Camera Name=second\n"
            "no equals sign\n"
            "[Other]\n"
            "Quoted=\" padded \"\n"
            "Empty=\n"
            "[file info]\n"
            "Extra=merged\n"
            "[Cat : A]B]\n"
            "Integer=5\n"
            "[]\n"
            "Lost=1\n"
            "[unclosed\n"
            "Lost=2\n");
    IniDocument marked;
    marked.Parse("\xEF\xBB\xBF[File Info]\nCamera Name=Cam\n");
    EXPECT_EQ(marked.Get("File Info", "Camera Name"), "Cam");
    struct Case {
        const char *section, *key;
        std::optional<std::string> value;
    } cases[] = {
        {"File Info", "Camera Name", "Cam 1"}, // trimmed, the first of two
        {"FILE INFO", "camera name", "Cam 1"}, // case does not matter
        {"File Info", "Extra", "merged"},      // a second section of the same name adds to the first
        {"Other", "Quoted", " padded "},       // quotes keep the blanks
        {"Other", "Empty", ""},
        {"Cat : A]B", "Integer", "5"}, // the last bracket closes the name
        {"", "Lost", "1"},             // "[]" names the empty section
        {"unclosed", "Lost", std::nullopt},
        {"File Info", "stray", std::nullopt},
        {"Missing", "Camera Name", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(d.Get(c.section, c.key), c.value) << c.section << " / " << c.key;
}

TEST(IniDocument, EveryValueReadsBackAsWrittenAndNoValueAddsEntries) {
    const std::string values[] = {"plain", " leading", "trailing\t", "\"quoted\"", "\"", "a=b=c", "[x]",
                                  ";y",    ""};
    IniDocument d;
    for (size_t i = 0; i < std::size(values); ++i)
        d.Set("S", "K" + std::to_string(i), values[i]);
    d.Set("S", "Injected", "a\n[T]\r\nk=v");
    d.Set("Line\nBreak", "K", "v");
    d.Set("s", "k0", "replaced"); // same key, other case: replaced in place

    IniDocument back;
    back.Parse(d.Text());
    EXPECT_EQ(back.Get("S", "K0"), "replaced");
    for (size_t i = 1; i < std::size(values); ++i)
        EXPECT_EQ(back.Get("S", "K" + std::to_string(i)), values[i]) << i;
    EXPECT_EQ(back.Get("S", "Injected"), "a [T]  k=v");
    EXPECT_FALSE(back.Get("T", "k"));
    EXPECT_EQ(back.Get("Line Break", "K"), "v");
    EXPECT_EQ(d.Text().rfind("[S]\nK0=replaced\n", 0), 0u);
}

TEST(IniDocument, SaveReplacesTheFileAndLoadRefusesWhatIsNoFileOrTooLarge) {
    TempFolder t;
    const std::string path = t.Write("a.ini", "[Old]\nKey=stale\n");
    IniDocument d;
    d.Set("New", "Key", "value");
    ASSERT_TRUE(d.Save(path));
    IniDocument back;
    ASSERT_TRUE(back.Load(path));
    EXPECT_EQ(back.Get("New", "Key"), "value");
    EXPECT_FALSE(back.Get("Old", "Key")); // the file is written anew, not merged
    EXPECT_EQ(std::distance(fs::directory_iterator(t.path), fs::directory_iterator()), 1);

    EXPECT_FALSE(d.Save((t.path / "no-such-folder" / "a.ini").string()));
    EXPECT_FALSE(back.Load((t.path / "missing.ini").string()));
    EXPECT_TRUE(back.Empty());
    EXPECT_FALSE(back.Load(t.path.string()));
    const std::string big = t.Write("big.ini", "[S]\nK=" + std::string(100, 'x') + "\n");
    EXPECT_FALSE(back.Load(big, 50));
    EXPECT_TRUE(back.Load(big, 200));
    // The one-value reader keeps its rules over the same parser.
    EXPECT_EQ(IniFile::ReadString(big, "s", "k", "-", 4), "xxxx");
    EXPECT_EQ(IniFile::ReadString(big, "S", "None", "fallback", 64), "fallback");
}
