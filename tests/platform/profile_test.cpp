#include "platform/profile.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "tests/support/temp_dir.h"

namespace ys::profile {
namespace {

using test::ReadFile;
using test::TempDir;

std::string Cp(std::string_view utf8) {
    return *codepage::Utf8ToCp932(utf8);
}

TEST(Profile, ReadingFollowsTheProfileRules) {
    Document doc = Document::Parse(
        "; comment = not a key\r\n"
        "orphan=before any section\r\n"
        "[ System ]\r\n"
        "  Key One  =  value with blanks   \r\n"
        "quoted=\"  kept blanks  \"\r\n"
        "single='x'\r\n"
        "mismatched=\"x'\r\n"
        "noequals\r\n"
        ";commented=1\r\n"
        "key one=second match loses\r\n"
        "empty=\r\n"
        "[system]\r\n"
        "late=the second section of the same name is never read\r\n");
    EXPECT_EQ(doc.Find("SYSTEM", "KEY ONE"), "value with blanks");
    EXPECT_EQ(doc.Find("system", "quoted"), "  kept blanks  ");
    EXPECT_EQ(doc.Find("system", "single"), "x");
    EXPECT_EQ(doc.Find("system", "mismatched"), "\"x'");
    EXPECT_EQ(doc.Find("system", "empty"), "");
    EXPECT_FALSE(doc.Find("system", "noequals"));
    EXPECT_FALSE(doc.Find("system", "commented"));
    EXPECT_FALSE(doc.Find("system", "; comment"));
    EXPECT_FALSE(doc.Find("system", "late"));
    EXPECT_FALSE(doc.Find("", "orphan"));
    EXPECT_FALSE(doc.Find("missing", "key one"));
}

TEST(Profile, CaseFoldingIsAsciiOnly) {
    Document doc = Document::Parse(Cp("[影の影響]\r\nＮＵＭ=1\r\nnum=2\r\n"));
    EXPECT_EQ(doc.Find("影の影響", "NUM"), "2");
    EXPECT_EQ(doc.Find("影の影響", "ＮＵＭ"), "1");
    EXPECT_FALSE(doc.Find("影の影響", "ｎｕｍ"));
}

TEST(Profile, Cp932TrailBytesAreNotFolded) {
    // "ア" is 0x83 0x41: its trail byte is an ASCII 'A' and must not match "ヂ"'s 0x83 0x61.
    Document doc = Document::Parse(Cp("[S]\r\nア=1\r\n"));
    EXPECT_EQ(doc.Find("S", "ア"), "1");
    EXPECT_FALSE(doc.Find("S", "ヂ"));
}

TEST(Profile, GetStringDefaultsAndBufferSize) {
    TempDir dir;
    std::string path = dir.Write("a.ini", "[A]\r\nk=abcdef\r\nj=日本語です\r\n");
    EXPECT_EQ(GetString("A", "k", "def", 1024, path), "abcdef");
    EXPECT_EQ(GetString("A", "k", "def", 4, path), "abc");
    EXPECT_EQ(GetString("A", "missing", "def", 1024, path), "def");
    EXPECT_EQ(GetString("B", "k", "def", 1024, path), "def");
    EXPECT_EQ(GetString("A", "k", "def", 1024, dir.File("none.ini")), "def");
    EXPECT_EQ(GetString("A", "k", "def", 0, path), "");
    // Characters, not bytes, at the UTF-8 interface; bytes without splitting at the CP932 one.
    std::string j = Cp("日本語です");
    std::string path2 = dir.Write("b.ini", "[A]\r\nj=" + j + "\r\n");
    EXPECT_EQ(GetString("A", "j", "", 3, path2), "日本");
    EXPECT_EQ(GetStringA("A", "j", "", 4, path2), Cp("日"));
    EXPECT_EQ(GetStringA("A", "j", "", 5, path2), Cp("日本"));
}

TEST(Profile, Integers) {
    EXPECT_EQ(ParseProfileInt("42"), 42);
    EXPECT_EQ(ParseProfileInt("  -17kWh"), -17);
    EXPECT_EQ(ParseProfileInt("+5"), 5);
    EXPECT_EQ(ParseProfileInt("abc"), 0);
    EXPECT_EQ(ParseProfileInt(""), 0);
    EXPECT_EQ(ParseProfileInt("3.9"), 3);
    EXPECT_EQ(ParseProfileInt("99999999999"), 2147483647);
    TempDir dir;
    std::string path = dir.Write("a.ini", "[R]\nn=12\nx=oops\n");
    EXPECT_EQ(GetInt("R", "n", -1, path), 12);
    EXPECT_EQ(GetInt("R", "x", -1, path), 0);
    EXPECT_EQ(GetInt("R", "missing", -1, path), -1);
}

TEST(Profile, WritingReplacesInPlaceAndKeepsEveryOtherLine) {
    TempDir dir;
    const std::string original = "; header\r\n[A]\r\nKey = old\r\nother=1\r\n\r\n[B]\r\nx=2\r\n";
    std::string path = dir.Write("w.ini", original);
    ASSERT_TRUE(WriteString("a", "key", "new", path));
    EXPECT_EQ(ReadFile(path), "; header\r\n[A]\r\nkey=new\r\nother=1\r\n\r\n[B]\r\nx=2\r\n");
    // A new key goes after the section's last line, before the blank line.
    ASSERT_TRUE(WriteString("A", "added", "3", path));
    EXPECT_EQ(ReadFile(path),
              "; header\r\n[A]\r\nkey=new\r\nother=1\r\nadded=3\r\n\r\n[B]\r\nx=2\r\n");
    // A new section goes at the end.
    ASSERT_TRUE(WriteString("C", "y", "4", path));
    EXPECT_EQ(ReadFile(path),
              "; header\r\n[A]\r\nkey=new\r\nother=1\r\nadded=3\r\n\r\n[B]\r\nx=2\r\n"
              "[C]\r\ny=4\r\n");
}

TEST(Profile, WritingKeepsLineEndsAndTheLastLineWithoutOne) {
    TempDir dir;
    std::string path = dir.Write("lf.ini", "[A]\nx=1");
    ASSERT_TRUE(WriteString("A", "y", "2", path));
    EXPECT_EQ(ReadFile(path), "[A]\nx=1\ny=2\n");
    ASSERT_TRUE(WriteString("A", "y", "3", path));
    EXPECT_EQ(ReadFile(path), "[A]\nx=1\ny=3\n");
}

TEST(Profile, ANewFileIsCp932WithCrLf) {
    TempDir dir;
    std::string path = dir.File("new.ini");
    ASSERT_TRUE(WriteString("INFO", "POWER_CON1", "異方位なし", path));
    ASSERT_TRUE(WriteString("MONTHLY_RESULT", "1M", "123", path));
    EXPECT_EQ(ReadFile(path),
              "[INFO]\r\nPOWER_CON1=" + Cp("異方位なし") + "\r\n[MONTHLY_RESULT]\r\n1M=123\r\n");
    EXPECT_EQ(GetString("info", "power_con1", "", 256, path), "異方位なし");
    EXPECT_EQ(GetStringA("info", "power_con1", "", 256, path), Cp("異方位なし"));
}

TEST(Profile, UnicodeFilesAreReadAndWrittenInTheirEncoding) {
    TempDir dir;
    auto wide = codepage::Utf8ToUtf16Le("[S]\r\nname=太陽\r\n");
    std::string path16 = dir.Write("w16.ini", "\xFF\xFE" + *wide);
    EXPECT_EQ(GetString("S", "name", "", 64, path16), "太陽");
    ASSERT_TRUE(WriteString("S", "more", "電池", path16));
    EXPECT_EQ(ReadFile(path16),
              "\xFF\xFE" + *codepage::Utf8ToUtf16Le("[S]\r\nname=太陽\r\nmore=電池\r\n"));

    std::string path8 = dir.Write("w8.ini", "\xEF\xBB\xBF[S]\nname=太陽\n");
    EXPECT_EQ(GetString("S", "name", "", 64, path8), "太陽");
    ASSERT_TRUE(WriteString("S", "name", "月", path8));
    EXPECT_EQ(ReadFile(path8), "\xEF\xBB\xBF[S]\nname=月\n");
}

TEST(Profile, AnOddByteAtTheEndOfAUtf16FileNeitherLosesNorMisalignsAWrite) {
    TempDir dir;
    const std::string body = "\xFF\xFE" + *codepage::Utf8ToUtf16Le("[S]\r\nname=太陽\r\n");
    for (const char* section : {"S", "New"}) {
        std::string path = dir.Write("odd16.ini", body + "\x7F");
        ASSERT_TRUE(WriteString(section, "more", "電池", path));
        EXPECT_EQ(GetString(section, "more", "", 64, path), "電池") << section;
        EXPECT_EQ(GetString("S", "name", "", 64, path), "太陽");
        EXPECT_EQ(ReadFile(path).back(), '\x7F');  // the odd byte is kept
    }
}

TEST(Profile, ALastLineEndingInALoneCrKeepsItsMeaningWhenLinesFollow) {
    TempDir dir;
    for (const std::string& head : {std::string("[S\r"), std::string("[S]\r")}) {
        std::string path = dir.Write("cr.ini", "[T]\nx=1\n" + head);
        ASSERT_TRUE(WriteString("S", "k", "v", path));
        EXPECT_EQ(GetString("S", "k", "", 64, path), "v") << head;
        EXPECT_EQ(GetString("T", "x", "", 64, path), "1");
    }
}

TEST(Profile, AValueTheFileCannotHoldIsRefusedAndNothingIsWritten) {
    TempDir dir;
    std::string path = dir.Write("c.ini", "[S]\r\nk=1\r\n");
    Status s = WriteString("S", "k", "😀", path);
    EXPECT_FALSE(s);
    EXPECT_EQ(ReadFile(path), "[S]\r\nk=1\r\n");
}

TEST(Profile, UndecodableBytesInOtherLinesSurviveAWrite) {
    TempDir dir;
    const std::string odd = "junk=\xA0\xFD\r\n";
    std::string path = dir.Write("odd.ini", "[S]\r\n" + odd + "k=1\r\n");
    ASSERT_TRUE(WriteString("S", "k", "2", path));
    EXPECT_EQ(ReadFile(path), "[S]\r\n" + odd + "k=2\r\n");
}

}  // namespace
}  // namespace ys::profile
