// What korrinctl accepts as key names, DWORDs and hex bytes, and the .reg lines it writes.
#include "tools/RegText.h"

#include <gtest/gtest.h>

namespace {

using namespace korrin::tools;

TEST(RegTextKeyName, AcceptsEitherSpellingOfEitherRoot) {
    auto key = ParseRegKeyName("hkey_local_machine\\SOFTWARE\\\\Quillion\\", nullptr);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->root, RegRoot::LocalMachine);
    EXPECT_EQ(key->path, (std::vector<std::string>{"SOFTWARE", "Quillion"}));
    EXPECT_EQ(FullRegKeyName(*key), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillion");

    key = ParseRegKeyName("HkCr\\.wav", nullptr);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->root, RegRoot::ClassesRoot);
    EXPECT_EQ(JoinRegPath(key->path), ".wav");
    key = ParseRegKeyName("HKLM", nullptr);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->path.empty());
}

TEST(RegTextKeyName, RefusesOtherRootsAndOverlongNames) {
    for (const std::string& text :
         std::vector<std::string>{"", "HKCU\\x", "HKLMX\\x", "\\HKLM\\x", "SOFTWARE\\Quillion",
                                  "HKLM\\" + std::string(256, 'a')}) {
        std::string error;
        EXPECT_FALSE(ParseRegKeyName(text, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    EXPECT_TRUE(ParseRegKeyName("HKLM\\" + std::string(255, 'a'), nullptr));
}

// A name with a line break or a zero byte would tear the lines of an export apart; a key
// written with '/' gets told which separator to use.
TEST(RegTextKeyName, RefusesControlCharactersAndExplainsTheSeparator) {
    for (const std::string& text : std::vector<std::string>{
             "HKLM\\a\rb", "HKLM\\a\nb", "HKLM\\a\tb", std::string("HKLM\\a\0b", 8)}) {
        std::string error;
        EXPECT_FALSE(ParseRegKeyName(text, &error));
        EXPECT_NE(error.find("control character"), std::string::npos);
    }
    std::string error;
    EXPECT_FALSE(ParseRegKeyName("hklm/software", &error));
    EXPECT_NE(error.find("'\\'"), std::string::npos) << error;
    EXPECT_TRUE(RegNameHasControl("a\rb"));
    EXPECT_FALSE(RegNameHasControl("File ID"));
}

TEST(RegTextDword, DecimalAndHexWithinThirtyTwoBits) {
    EXPECT_EQ(ParseRegDword("0"), 0u);
    EXPECT_EQ(ParseRegDword("4294967295"), 4294967295u);
    EXPECT_EQ(ParseRegDword("0xFFFFFFFF"), 4294967295u);
    EXPECT_EQ(ParseRegDword("0X0000000a"), 10u);
    EXPECT_EQ(ParseRegDword("000000000000000000010"), 10u);
    for (const char* bad : {"", "0x", "4294967296", "0x100000000", "99999999999999999999", "-1",
                            "+1", " 1", "1 ", "1a", "0xg", "ten"})
        EXPECT_EQ(ParseRegDword(bad), std::nullopt) << bad;
}

TEST(RegTextHex, CommaSeparatedOrRun) {
    using Bytes = std::vector<std::uint8_t>;
    EXPECT_EQ(ParseRegHex("01,00,ff"), (Bytes{1, 0, 255}));
    EXPECT_EQ(ParseRegHex(" 1 , A,Ff "), (Bytes{1, 10, 255}));
    EXPECT_EQ(ParseRegHex("0100fF"), (Bytes{1, 0, 255}));
    EXPECT_EQ(ParseRegHex(""), Bytes{});
    for (const char* bad : {"010", "01,,02", "01,", ",01", "100,01", "0g", "01 00", "hex:01"})
        EXPECT_EQ(ParseRegHex(bad), std::nullopt) << bad;
}

TEST(RegTextExport, ValueLines) {
    auto bytes = [](const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    EXPECT_EQ(RegFileValue("", 1, bytes("a\"b\\c")), "@=\"a\\\"b\\\\c\"\n");
    EXPECT_EQ(RegFileValue("Say \"x\"", 1, bytes(std::string("text\0", 5))),
              "\"Say \\\"x\\\"\"=\"text\"\n");
    EXPECT_EQ(RegFileValue("File ID", 4, {10, 0, 0, 0}), "\"File ID\"=dword:0000000a\n");
    EXPECT_EQ(RegFileValue("Short", 4, {10, 0}), "\"Short\"=hex(4):0a,00\n");
    EXPECT_EQ(RegFileValue("Lines", 1, bytes("a\nb")), "\"Lines\"=hex(1):61,0a,62\n");
    EXPECT_EQ(RegFileValue("Odd", 11, {}), "\"Odd\"=hex(b):\n");

    std::vector<std::uint8_t> format;
    for (int i = 0; i < 40; ++i)
        format.push_back(static_cast<std::uint8_t>(i * 7));
    EXPECT_EQ(RegFileValue("Wave Format Transport", 3, format),
              "\"Wave Format Transport\"=hex:00,07,0e,15,1c,23,2a,31,38,3f,46,4d,54,5b,62,69,"
              "70,\\\n"
              "  77,7e,85,8c,93,9a,a1,a8,af,b6,bd,c4,cb,d2,d9,e0,e7,ee,f5,fc,03,0a,11\n");
}

}  // namespace
