// Reading parlo.ini back: line parsing, line ends, limits and the round trip.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ports/config_file.h"
#include "ports/config_read.h"
#include "tests/native/ports/table_fixture.h"

namespace {

bool parse(const std::string& line, ConfigEntry* out)
{
    return parseConfigLine(line.data(), line.size(), out) == 1;
}

// Reads entries from file content given as bytes.
std::vector<ConfigEntry> readText(const std::string& text, int maxEntries = PORT_TABLE_ENTRIES)
{
    FILE* f = tmpfile();
    fwrite(text.data(), 1, text.size(), f);
    rewind(f);
    std::vector<ConfigEntry> out(maxEntries > 0 ? maxEntries : 1);
    int n = readConfigEntries(f, out.data(), maxEntries);
    fclose(f);
    out.resize(n);
    return out;
}

}  // namespace

TEST(ConfigRead, GoodLineGivesEveryField)
{
    ConfigEntry e;
    ASSERT_TRUE(parse("entry_v1_1=COM5 192.0.2.7 502 enable tcpc 6001", &e));
    EXPECT_STREQ("COM5", e.comName);
    EXPECT_STREQ("192.0.2.7", e.remoteAddress);
    EXPECT_STREQ("502", e.remotePort);
    EXPECT_STREQ("enable", e.stateWord);
    EXPECT_STREQ("tcpc", e.protocol);
    EXPECT_STREQ("6001", e.localPort);

    ASSERT_TRUE(parse("entry_v1_17=COM256 dev.example 4001 disable udp 0", &e));
    EXPECT_STREQ("COM256", e.comName);
    EXPECT_STREQ("disable", e.stateWord);
    EXPECT_STREQ("udp", e.protocol);
}

TEST(ConfigRead, EmptyFieldsAreTwoAdjacentSpaces)
{
    ConfigEntry e;
    ASSERT_TRUE(parse("entry_v1_2=COM2   enable tcpc 7", &e));
    EXPECT_STREQ("", e.remoteAddress);
    EXPECT_STREQ("", e.remotePort);
    EXPECT_STREQ("7", e.localPort);
    ASSERT_TRUE(parse("entry_v1_3=COM3 h 1 enable udp ", &e));
    EXPECT_STREQ("", e.localPort);
}

TEST(ConfigRead, MalformedLinesAreRefused)
{
    ConfigEntry e;
    const char* bad[] = {
        "",
        "garbage",
        "[ports]",
        "entry_v1_=COM5 a 1 enable tcpc 1",          // no number
        "entry_v2_1=COM5 a 1 enable tcpc 1",         // another format
        "entry_v1_1 COM5 a 1 enable tcpc 1",         // no '='
        "entry_v1_1234567890=COM5 a 1 enable tcpc 1", // key number too long
        "entry_v1_1=COM5 a 1 enable tcpc",           // five fields
        "entry_v1_1=COM5 a 1 enable tcpc 1 x",       // seven
        "entry_v1_1=COM5 a 1 enable tcpc 1 ",        // trailing space: seven
        " entry_v1_1=COM5 a 1 enable tcpc 1",
        "entry_v1_1=COM5 a 1 on tcpc 1",             // state word
        "entry_v1_1=COM5 a 1 Enable tcpc 1",
        "entry_v1_1=COM5 a 1 enable TCPC 1",         // protocol word
        "entry_v1_1=COM5 a 1 enable tcp 1",
        "entry_v1_1=COM5 a\t1 enable tcpc 1 2",      // control character
        "entry_v1_1=COM5 a\r 1 enable tcpc 1",
    };
    for (const char* line : bad)
        EXPECT_FALSE(parse(line, &e)) << "accepted: " << line;
    std::string withNul("entry_v1_1=COM5 a\0b 1 enable tcpc 1", 36);
    EXPECT_FALSE(parse(withNul, &e)) << "a NUL inside the line";
}

TEST(ConfigRead, ComNameMustBeComOneToTwoFiftySix)
{
    ConfigEntry e;
    for (const char* name : {"COM1", "COM9", "COM10", "COM128", "COM256"})
        EXPECT_TRUE(parse(std::string("entry_v1_1=") + name + " a 1 enable tcpc 1", &e)) << name;
    for (const char* name : {"", "COM", "COM0", "COM05", "COM257", "COM1000", "com5", "LPT1", "COM5A",
                             "NULL_COM5", "COM99999999999999999999"})
        EXPECT_FALSE(parse(std::string("entry_v1_1=") + name + " a 1 enable tcpc 1", &e)) << name;
}

TEST(ConfigRead, FieldsLongerThanTheirTableFieldAreRefused)
{
    ConfigEntry e;
    std::string address127(127, 'a'), port31(31, '1');
    ASSERT_TRUE(parse("entry_v1_1=COM5 " + address127 + " " + port31 + " enable tcpc " + port31, &e));
    EXPECT_EQ(address127, e.remoteAddress);
    EXPECT_EQ(port31, e.localPort);
    EXPECT_FALSE(parse("entry_v1_1=COM5 " + address127 + "a 1 enable tcpc 1", &e));
    EXPECT_FALSE(parse("entry_v1_1=COM5 a " + port31 + "1 enable tcpc 1", &e));
    EXPECT_FALSE(parse("entry_v1_1=COM5 a 1 enable tcpc " + port31 + "1", &e));
}

TEST(ConfigRead, CrLfAndLfLinesAndALastLineWithoutEnd)
{
    std::vector<ConfigEntry> v = readText("entry_v1_1=COM5 a 1 enable tcpc 6001\r\n"
                                          "entry_v1_2=COM6 b 2 disable udp 6002\n"
                                          "entry_v1_3=COM7 c 3 enable tcpc 6003");
    ASSERT_EQ(3u, v.size());
    EXPECT_STREQ("6001", v[0].localPort) << "CR removed";
    EXPECT_STREQ("COM6", v[1].comName);
    EXPECT_STREQ("6003", v[2].localPort);
    EXPECT_TRUE(readText("").empty());
    EXPECT_TRUE(readText("\r\n\n\r\n").empty());
}

TEST(ConfigRead, BadLinesAreSkippedAndReadingGoesOn)
{
    std::string overlong = "entry_v1_2=COM6 " + std::string(100000, 'x') + " 1 enable tcpc 1\r\n";
    std::string binary("\x01\x02\xff\0\x7f entry\r\n", 12);
    std::vector<ConfigEntry> v = readText("entry_v1_1=COM5 a 1 enable tcpc 1\r\n" + overlong + binary +
                                          "; comment\r\n"
                                          "entry_v1_3=COM7 c 3 enable tcpc 3\r\n");
    ASSERT_EQ(2u, v.size());
    EXPECT_STREQ("COM5", v[0].comName);
    EXPECT_STREQ("COM7", v[1].comName);
}

TEST(ConfigRead, ReaderKeepsToItsBufferAndConsumesWholeLines)
{
    FILE* f = tmpfile();
    std::string text = "1234567\n" "12345678\n" "123456\r\n" + std::string(5000, 'x') + "\r\nlast";
    fwrite(text.data(), 1, text.size(), f);
    rewind(f);
    char buf[8];
    size_t consumed;
    EXPECT_EQ(7, readConfigLine(f, buf, sizeof buf, &consumed));
    EXPECT_STREQ("1234567", buf);
    EXPECT_EQ(CONFIG_LINE_TOO_LONG, readConfigLine(f, buf, sizeof buf, &consumed));
    EXPECT_EQ(9u, consumed);
    EXPECT_EQ(6, readConfigLine(f, buf, sizeof buf, &consumed)) << "CR LF removed";
    EXPECT_STREQ("123456", buf);
    EXPECT_EQ(CONFIG_LINE_TOO_LONG, readConfigLine(f, buf, sizeof buf, &consumed));
    EXPECT_EQ(5002u, consumed) << "an overlong line is consumed to its end";
    EXPECT_EQ(4, readConfigLine(f, buf, sizeof buf, &consumed));
    EXPECT_STREQ("last", buf);
    EXPECT_EQ(CONFIG_LINE_END, readConfigLine(f, buf, sizeof buf, &consumed));
    fclose(f);
}

TEST(ConfigRead, AtMostTheRequestedNumberOfEntriesAndTheReadLimit)
{
    std::string text;
    for (int i = 1; i <= 200; i++)
        text += "entry_v1_" + std::to_string(i) + "=COM" + std::to_string(i) + " a 1 enable tcpc 1\r\n";
    std::vector<ConfigEntry> v = readText(text);
    ASSERT_EQ(128u, v.size());
    EXPECT_STREQ("COM1", v[0].comName);
    EXPECT_STREQ("COM128", v[127].comName);
    EXPECT_EQ(3u, readText(text, 3).size());
    EXPECT_TRUE(readText(text, 0).empty());

    // The byte limit is the file's: a line it cuts is not taken, and nothing
    // past it is looked at. A line that ends at the limit, or with the file
    // there, is whole.
    const std::string line = "entry_v1_1=COM5 a 1 enable tcpc 1";
    auto filler = [](size_t bytes) { return std::string(bytes - 1, 'x') + "\n"; };
    std::string cut = filler(CONFIG_READ_MAX - 10) + line + "\n";
    FILE* f = tmpfile();
    fwrite(cut.data(), 1, cut.size(), f);
    rewind(f);
    ConfigEntry e[2];
    EXPECT_EQ(0, readConfigEntries(f, e, 2));
    EXPECT_LE(ftell(f), (long)CONFIG_READ_MAX);
    fclose(f);
    EXPECT_EQ(1u, readText(filler(CONFIG_READ_MAX - line.size() - 1) + line + "\n").size());
    EXPECT_EQ(1u, readText(filler(CONFIG_READ_MAX - line.size()) + line).size());
    EXPECT_TRUE(readText(filler(CONFIG_READ_MAX - line.size()) + line + "\n").empty());
}

TEST(ConfigRead, ALaterLineForTheSameComNameIsSkipped)
{
    std::vector<ConfigEntry> v = readText("entry_v1_1=COM5 a 1 enable tcpc 1\r\n"
                                          "entry_v1_2=COM5 b 2 enable tcpc 2\r\n"
                                          "entry_v1_3=COM6 c 3 enable tcpc 3\r\n");
    ASSERT_EQ(2u, v.size());
    EXPECT_STREQ("a", v[0].remoteAddress);
    EXPECT_STREQ("COM6", v[1].comName);
}

TEST(ConfigRead, ReadsBackWhatTheWriterWrote)
{
    TablePtr t = newTable();
    writePortEntry(t.get(), 3, "\\\\.\\NULL_COM5", "192.0.2.7", "502", "enable", "tcpc", "6001");
    writePortEntry(t.get(), 7, "\\\\.\\NULL_COM9", "", "", "disable", "udp", "");
    t->entries[3].command = PORT_RESTART;
    FILE* f = tmpfile();
    ASSERT_EQ(1, writeConfigLines(t.get(), f));
    rewind(f);
    ConfigEntry e[4];
    ASSERT_EQ(2, readConfigEntries(f, e, 4));
    fclose(f);
    EXPECT_STREQ("COM5", e[0].comName);
    EXPECT_STREQ("enable", e[0].stateWord);
    EXPECT_STREQ("COM9", e[1].comName);
    EXPECT_STREQ("", e[1].remoteAddress);
    EXPECT_STREQ("disable", e[1].stateWord);
    EXPECT_STREQ("udp", e[1].protocol);
    EXPECT_STREQ("0", e[1].localPort);
}

namespace {

// "line:fault:COM" for each line a report was told about.
std::vector<std::string> rejectedLines(const std::string& text, int maxEntries = PORT_TABLE_ENTRIES)
{
    std::vector<std::string> told;
    ConfigReport report = {&told, [](void* c, int line, int fault, const char* com) {
                               static_cast<std::vector<std::string>*>(c)->push_back(
                                   std::to_string(line) + ":" + std::to_string(fault) + ":" + com);
                           }};
    FILE* f = tmpfile();
    fwrite(text.data(), 1, text.size(), f);
    rewind(f);
    std::vector<ConfigEntry> out(maxEntries);
    readConfigEntries(f, out.data(), maxEntries, &report);
    fclose(f);
    return told;
}

}  // namespace

// Every line left out is told with its number and why, so the host can say
// which port did not come back; blank lines are nobody's concern.
TEST(ConfigRead, EveryLineLeftOutIsToldWithItsReason)
{
    std::string address128(128, 'a');
    std::vector<std::string> told = rejectedLines("entry_v1_1=COM5 a 1 enable tcpc 1\r\n"
                                                  "\r\n"
                                                  "[ports]\r\n"
                                                  "entry_v1_2=COM6 a 1 enable tcpc\r\n"
                                                  "entry_v1_3=COM7 a\t1 enable tcpc 1\r\n"
                                                  "entry_v1_4=COM8 " + address128 + " 1 enable tcpc 1\r\n"
                                                  "entry_v1_5=COM0 a 1 enable tcpc 1\r\n"
                                                  "entry_v1_6=COM9 a 1 on tcpc 1\r\n"
                                                  "entry_v1_7=COM10 a 1 enable TCP 1\r\n"
                                                  "entry_v1_8=COM5 b 2 enable udp 2\r\n" +
                                                  std::string(600, 'x') + "\r\n"
                                                  "entry_v1_9=COM11 a 1 enable udp 1\r\n");
    EXPECT_EQ((std::vector<std::string>{"3:2:", "4:3:COM6", "5:4:", "6:5:COM8", "7:6:", "8:7:COM9", "9:8:COM10",
                                        "10:9:COM5", "11:1:"}),
              told);

    // Past the entries wanted, every sound line is told as having no room;
    // past the bytes read, the rest of the file once.
    std::string many;
    for (int i = 1; i <= 4; i++)
        many += "entry_v1_" + std::to_string(i) + "=COM" + std::to_string(i) + " a 1 enable tcpc 1\n";
    EXPECT_EQ((std::vector<std::string>{"3:10:COM3", "4:10:COM4"}), rejectedLines(many, 2));
    std::string huge = "entry_v1_1=COM1 a 1 enable tcpc 1\n";
    while (huge.size() < CONFIG_READ_MAX)
        huge += "; " + std::string(500, '-') + "\n";
    told = rejectedLines(huge + "entry_v1_2=COM2 a 1 enable tcpc 1\n");
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(":11:", told.back().substr(told.back().find(':')));

    // The reasons agree with the parser: a line it takes has no fault.
    EXPECT_EQ(CONFIG_FAULT_NONE, configLineFault("entry_v1_1=COM5 a 1 enable tcpc 1", 33, nullptr));
    for (const char* bad : {"entry_v1_1=COM5 a 1 enable tcpc 1 ", "entry_v1_1=COM5 a 1 enable tcpc 1 x",
                            "entry_v1_=COM5 a 1 enable tcpc 1", "entry_v1_1=COM5 a 1 enable tcpc 999999999999999999999999999999999"})
        EXPECT_NE(CONFIG_FAULT_NONE, configLineFault(bad, strlen(bad), nullptr)) << bad;
}
