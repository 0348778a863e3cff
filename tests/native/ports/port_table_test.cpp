// Entry operations on the shared table: what the host and the lists rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ports/port_table.h"
#include "tests/native/ports/table_fixture.h"

TEST(PortTableWrite, StoresTextsCommandProtocolAndLocalPort)
{
    TablePtr t = newTable();
    PortEntry* e = &t->entries[3];
    ASSERT_EQ(1, writePortEntry(t.get(), 3, "\\\\.\\NULL_COM5", "192.0.2.7", "502", "enable", "udp", ""));
    EXPECT_STREQ("\\\\.\\NULL_COM5", e->portName);
    EXPECT_STREQ("192.0.2.7", e->remoteAddress);
    EXPECT_STREQ("502", e->remotePort);
    EXPECT_EQ(PORT_START, e->command);
    EXPECT_STREQ("udp", e->protocol);
    EXPECT_STREQ("0", e->localPort) << "an empty local port is stored as 0";
    EXPECT_EQ(1u, e->inUse);
    EXPECT_EQ(0u, e->present) << "present is the host's to set";

    // Only the exact lower-case keywords select UDP and a running port.
    writePortEntry(t.get(), 4, "\\\\.\\NULL_COM6", "h", "1", "disable", "UDP", "7");
    EXPECT_EQ(PORT_STOP, t->entries[4].command);
    EXPECT_STREQ("tcpc", t->entries[4].protocol);
    writePortEntry(t.get(), 4, "\\\\.\\NULL_COM6", "h", "1", "Enable", "udp ", "7");
    EXPECT_EQ(PORT_STOP, t->entries[4].command);
    EXPECT_STREQ("tcpc", t->entries[4].protocol);
}

TEST(PortTableWrite, KeepsBytesAfterTheTerminator)
{
    TablePtr t = newTable();
    PortEntry* e = &t->entries[0];
    writePortEntry(t.get(), 0, "\\\\.\\NULL_COM123", "longer.address.example", "50200", "enable", "tcpc", "6001");
    writePortEntry(t.get(), 0, "\\\\.\\NULL_COM1", "short", "5", "enable", "tcpc", "6001");
    EXPECT_STREQ("short", e->remoteAddress);
    EXPECT_EQ('.', e->remoteAddress[6]) << "the field is not cleared before writing";
    EXPECT_STREQ("5", e->remotePort);
}

TEST(PortTableWrite, OverlongTextsAreCutToTheirField)
{
    TablePtr t = newTable();
    PortEntry* e = &t->entries[1];
    memset(&t->entries[2], 0x5A, 64);  // a neighbour that must stay untouched
    std::string address(300, 'a');
    std::string port(63, '9');
    writePortEntry(t.get(), 1, ("\\\\.\\NULL_COM" + std::string(40, '7')).c_str(), address.c_str(),
                   port.c_str(), "enable", "tcpc", port.c_str());
    EXPECT_EQ(127u, strlen(e->remoteAddress));
    EXPECT_EQ(31u, strlen(e->remotePort));
    EXPECT_EQ(31u, strlen(e->localPort));
    EXPECT_EQ(31u, strlen(e->portName));
    EXPECT_EQ(0x5A, ((unsigned char*)&t->entries[2])[0]);

    retargetPortEntry(t.get(), 1, port.c_str(), port.c_str(), std::string(50, 'u').c_str(), address.c_str());
    EXPECT_EQ(127u, strlen(e->remoteAddress));
    EXPECT_EQ(31u, strlen(e->protocol));
    EXPECT_EQ(0x5A, ((unsigned char*)&t->entries[2])[0]);

    EXPECT_EQ(0, writePortEntry(t.get(), 128, "x", "x", "x", "enable", "tcpc", "1"));
    EXPECT_EQ(0, writePortEntry(t.get(), -1, "x", "x", "x", "enable", "tcpc", "1"));
}

TEST(PortTableRetarget, ZeroFillsRestartsUnlessStopped)
{
    TablePtr t = newTable();
    PortEntry* e = &t->entries[2];
    writePortEntry(t.get(), 2, "\\\\.\\NULL_COM5", "a-long-address.example", "50200", "enable", "tcpc", "6001");
    retargetPortEntry(t.get(), 2, "9", "", "udp", "10.0.0.1");
    EXPECT_STREQ("9", e->remotePort);
    EXPECT_STREQ("0", e->localPort);
    EXPECT_STREQ("udp", e->protocol);
    EXPECT_STREQ("10.0.0.1", e->remoteAddress);
    for (size_t i = strlen("10.0.0.1"); i < sizeof e->remoteAddress; i++)
        ASSERT_EQ(0, e->remoteAddress[i]) << "zero-filled at " << i;
    EXPECT_EQ(PORT_RESTART, e->command);

    e->command = PORT_STOP;
    retargetPortEntry(t.get(), 2, "10", "6002", "tcpc", "10.0.0.2");
    EXPECT_EQ(PORT_STOP, e->command) << "a stopped port stays stopped";
    EXPECT_STREQ("10.0.0.2", e->remoteAddress);
}

TEST(PortTableRestart, OneEntryOrEveryPresentOne)
{
    TablePtr t = newTable();
    makePresent(t.get(), 0, "COM1");
    makePresent(t.get(), 5, "COM2");
    t->entries[5].command = PORT_STOP;
    t->entries[9].command = PORT_START;  // not present

    restartPort(t.get(), 9);
    EXPECT_EQ(PORT_RESTART, t->entries[9].command) << "a single restart ignores present";

    t->entries[9].command = PORT_START;
    restartPort(t.get(), -1);
    EXPECT_EQ(PORT_RESTART, t->entries[0].command);
    EXPECT_EQ(PORT_RESTART, t->entries[5].command) << "Restart All starts stopped ports again";
    EXPECT_EQ(PORT_START, t->entries[9].command);

    TablePtr empty = newTable();
    restartPort(empty.get(), -1);
    for (const PortEntry& e : empty->entries)
        ASSERT_EQ(0, e.command);
}

TEST(PortTableSearch, FreeEntryAndExactComName)
{
    TablePtr t = newTable();
    EXPECT_EQ(0, findFreeEntry(t.get()));
    makePresent(t.get(), 0, "COM5");
    makePresent(t.get(), 1, "COM15");
    EXPECT_EQ(2, findFreeEntry(t.get()));

    EXPECT_EQ(0, findEntryByComName(t.get(), "COM5"));
    EXPECT_EQ(1, findEntryByComName(t.get(), "COM15"));
    EXPECT_EQ(-1, findEntryByComName(t.get(), "com5")) << "case matters";
    EXPECT_EQ(-1, findEntryByComName(t.get(), "COM"));
    EXPECT_EQ(-1, findEntryByComName(t.get(), "COM51"));

    // An entry in use but not present is invisible to searches and can be handed out.
    writePortEntry(t.get(), 2, "\\\\.\\NULL_COM7", "h", "1", "enable", "tcpc", "1");
    EXPECT_EQ(-1, findEntryByComName(t.get(), "COM7"));
    EXPECT_EQ(2, findFreeEntry(t.get()));

    for (int i = 0; i < PORT_TABLE_ENTRIES; i++)
        t->entries[i].present = 1;
    EXPECT_EQ(-1, findFreeEntry(t.get()));

    // A duplicate name finds the lowest index.
    TablePtr d = newTable();
    makePresent(d.get(), 4, "COM9");
    makePresent(d.get(), 2, "COM9");
    EXPECT_EQ(2, findEntryByComName(d.get(), "COM9"));
}

TEST(PortTableNames, ComNameAndNumberStayInsideTheField)
{
    TablePtr t = newTable();
    PortEntry* e = &t->entries[0];
    writePortEntry(t.get(), 0, "\\\\.\\NULL_COM12", "h", "1", "enable", "tcpc", "1");
    char name[COM_NAME_MAX + 1];
    EXPECT_EQ(5u, comName(e, name, sizeof name));
    EXPECT_STREQ("COM12", name);
    EXPECT_EQ(12, comNumber(e));

    // A portName with no terminator (foreign bytes) gives at most 22 characters.
    memset(e->portName, 'X', sizeof e->portName);
    memset(e->remoteAddress, 'Y', sizeof e->remoteAddress);
    EXPECT_EQ(22u, comName(e, name, sizeof name));
    EXPECT_EQ(0, comNumber(e));
    e->present = 1;
    EXPECT_EQ(0, findEntryByComName(t.get(), std::string(22, 'X').c_str()));
}

TEST(PortTableText, LinkStates)
{
    EXPECT_STREQ(" ", linkStateText(0));
    EXPECT_STREQ("Connection failed.", linkStateText(0x1000000));
    EXPECT_STREQ("Connecting...", linkStateText(0x1000001));
    EXPECT_STREQ("Connected", linkStateText(0x1000002));
    EXPECT_STREQ("Disconnected", linkStateText(0x1000003));
    EXPECT_STREQ("Stop", linkStateText(0x1000004));
    EXPECT_STREQ("", linkStateText(5));
    EXPECT_STREQ("", linkStateText(0x1000005));
}

TEST(PortTableRing, IndicesFromTheHostNeverLeaveTheRing)
{
    EXPECT_EQ(0, ringSlot(0));
    EXPECT_EQ(1023, ringSlot(1023));
    EXPECT_EQ(0, ringSlot(1024));
    EXPECT_EQ(1023, ringSlot(-1));
    EXPECT_GE(ringSlot(INT32_MIN), 0);
    EXPECT_LT(ringSlot(INT32_MAX), 1024);
}
