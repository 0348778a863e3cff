// The host putting parlo.ini's entries back into an empty table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_restore.h"
#include "tests/native/ports/table_fixture.h"

namespace {

ConfigEntry entry(const char* com, const char* address, const char* remotePort, const char* state,
                  const char* protocol, const char* localPort)
{
    ConfigEntry e = {};
    snprintf(e.comName, sizeof e.comName, "%s", com);
    snprintf(e.remoteAddress, sizeof e.remoteAddress, "%s", address);
    snprintf(e.remotePort, sizeof e.remotePort, "%s", remotePort);
    snprintf(e.stateWord, sizeof e.stateWord, "%s", state);
    snprintf(e.protocol, sizeof e.protocol, "%s", protocol);
    snprintf(e.localPort, sizeof e.localPort, "%s", localPort);
    return e;
}

std::vector<std::string> pairs;
void recordPair(void*, const char* com, const char* nullName)
{
    pairs.push_back(com);
    pairs.push_back(nullName);
}

}  // namespace

TEST(HostRestore, EntriesGoIntoSlotsInFileOrder)
{
    TablePtr t = newTable();
    ConfigEntry e[] = {entry("COM9", "192.0.2.7", "502", "enable", "tcpc", "6001"),
                       entry("COM5", "", "", "disable", "udp", "")};
    pairs.clear();
    createEntryPairs(e, 2, recordPair, nullptr);
    EXPECT_EQ((std::vector<std::string>{"COM9", "NULL_COM9", "COM5", "NULL_COM5"}), pairs);
    ASSERT_EQ(2, restoreEntries(t.get(), e, 2));

    const PortEntry& a = t->entries[0];
    EXPECT_STREQ("\\\\.\\NULL_COM9", a.portName);
    EXPECT_STREQ("192.0.2.7", a.remoteAddress);
    EXPECT_STREQ("502", a.remotePort);
    EXPECT_STREQ("tcpc", a.protocol);
    EXPECT_STREQ("6001", a.localPort);
    EXPECT_EQ(PORT_START, a.command);
    EXPECT_EQ(1u, a.inUse);
    EXPECT_EQ(0u, a.present) << "present is the host's to set when it holds the port";

    const PortEntry& b = t->entries[1];
    EXPECT_STREQ("\\\\.\\NULL_COM5", b.portName);
    EXPECT_EQ(PORT_STOP, b.command) << "disable comes back stopped";
    EXPECT_STREQ("udp", b.protocol);
    EXPECT_STREQ("0", b.localPort);
    EXPECT_EQ(0u, t->entries[2].inUse);
}

// The manager may write a port as soon as the table is published: its slots
// are kept, and the restored entries take the free ones around them.
TEST(HostRestore, SlotsTheManagerWroteAreKept)
{
    TablePtr t = newTable();
    writePortEntry(t.get(), 0, "\\\\.\\NULL_COM41", "127.0.0.1", "9", "enable", "tcpc", "7001");
    writePortEntry(t.get(), 2, "\\\\.\\NULL_COM42", "127.0.0.1", "9", "disable", "udp", "7002");
    ConfigEntry e[] = {entry("COM9", "a", "1", "enable", "tcpc", "1"), entry("COM8", "b", "2", "enable", "tcpc", "2")};
    EXPECT_EQ(2, restoreEntries(t.get(), e, 2));
    EXPECT_STREQ("\\\\.\\NULL_COM41", t->entries[0].portName);
    EXPECT_STREQ("7001", t->entries[0].localPort);
    EXPECT_STREQ("\\\\.\\NULL_COM9", t->entries[1].portName);
    EXPECT_STREQ("\\\\.\\NULL_COM42", t->entries[2].portName);
    EXPECT_EQ(PORT_STOP, t->entries[2].command);
    EXPECT_STREQ("\\\\.\\NULL_COM8", t->entries[3].portName);
    EXPECT_EQ(0, restoreEntries(nullptr, e, 1));
}

TEST(HostRestore, WithoutTheDriverLibraryEntriesStillComeBack)
{
    TablePtr t = newTable();
    ConfigEntry e[] = {entry("COM44", "127.0.0.1", "9", "enable", "tcpc", "6001")};
    createEntryPairs(e, 1, nullptr, nullptr);
    ASSERT_EQ(1, restoreEntries(t.get(), e, 1));
    EXPECT_STREQ("\\\\.\\NULL_COM44", t->entries[0].portName);
}

TEST(HostRestore, NeverMoreThanTheTableHolds)
{
    TablePtr t = newTable();
    std::vector<ConfigEntry> e;
    for (int i = 1; i <= 130; i++)
        e.push_back(entry(("COM" + std::to_string(i)).c_str(), "a", "1", "enable", "tcpc", "1"));
    EXPECT_EQ(128, restoreEntries(t.get(), e.data(), (int)e.size()));
    EXPECT_STREQ("\\\\.\\NULL_COM128", t->entries[127].portName);
}

TEST(HostRestore, FromAFileThroughToTheTable)
{
    FILE* f = tmpfile();
    const char text[] = "entry_v1_1=COM40 127.0.0.1 9 enable tcpc 6001\r\n"
                        "not a line\r\n"
                        "entry_v1_2=COM41  9 disable udp 6002\n";
    fwrite(text, 1, sizeof text - 1, f);
    rewind(f);
    ConfigEntry e[PORT_TABLE_ENTRIES];
    int n = readConfigEntries(f, e, PORT_TABLE_ENTRIES);
    fclose(f);
    TablePtr t = newTable();
    ASSERT_EQ(2, restoreEntries(t.get(), e, n));
    EXPECT_STREQ("\\\\.\\NULL_COM41", t->entries[1].portName);
    EXPECT_STREQ("", t->entries[1].remoteAddress);
    EXPECT_EQ(PORT_STOP, t->entries[1].command);
}
