// parlo.ini: line format, numbering, state words and the safe rewrite.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "ports/config_file.h"
#include "tests/native/ports/table_fixture.h"

static std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

static std::string tempPath(const char* name)
{
    char dir[] = "/tmp/parlo_cfg_XXXXXX";
    return std::string(mkdtemp(dir)) + "/" + name;
}

TEST(ConfigFile, EntriesInUseNumberedWithoutGaps)
{
    TablePtr t = newTable();
    writePortEntry(t.get(), 3, "\\\\.\\NULL_COM5", "192.0.2.7", "502", "enable", "tcpc", "6001");
    writePortEntry(t.get(), 7, "\\\\.\\NULL_COM9", "dev.example", "4001", "disable", "udp", "");
    // In use but never taken up by the host: still written.
    EXPECT_EQ(0u, t->entries[7].present);
    t->entries[3].present = 1;
    std::string path = tempPath("parlo.ini");
    ASSERT_EQ(1, writeConfigFileAt(t.get(), path.c_str()));
    EXPECT_EQ("entry_v1_1=COM5 192.0.2.7 502 enable tcpc 6001\r\n"
              "entry_v1_2=COM9 dev.example 4001 disable udp 0\r\n",
              readAll(path));

    // Restart (3) is enabled; a deleted entry (inUse 0) is gone; empty fields give two spaces.
    t->entries[7].command = PORT_RESTART;
    t->entries[3].inUse = 0;
    writePortEntry(t.get(), 9, "\\\\.\\NULL_COM2", "", "", "enable", "tcpc", "7");
    ASSERT_EQ(1, writeConfigFileAt(t.get(), path.c_str()));
    EXPECT_EQ("entry_v1_1=COM9 dev.example 4001 enable udp 0\r\n"
              "entry_v1_2=COM2   enable tcpc 7\r\n",
              readAll(path));
}

TEST(ConfigFile, NoEntriesGivesEmptyFile)
{
    TablePtr t = newTable();
    std::string path = tempPath("parlo.ini");
    {
        std::ofstream old(path);
        old << "entry_v1_1=COM1 x 1 enable tcpc 0\r\n";
    }
    ASSERT_EQ(1, writeConfigFileAt(t.get(), path.c_str()));
    EXPECT_EQ("", readAll(path));
}

TEST(ConfigFile, FailedRewriteLeavesTheOldFileWhole)
{
    TablePtr t = newTable();
    writePortEntry(t.get(), 0, "\\\\.\\NULL_COM5", "192.0.2.7", "502", "enable", "tcpc", "6001");
    std::string path = tempPath("parlo.ini");
    ASSERT_EQ(1, writeConfigFileAt(t.get(), path.c_str()));
    std::string before = readAll(path);

    // The temporary file cannot be created: the old content stays as it was.
    std::string blocker = path + ".new";
    ASSERT_EQ(0, mkdir(blocker.c_str(), 0700));
    writePortEntry(t.get(), 1, "\\\\.\\NULL_COM6", "x", "1", "enable", "tcpc", "1");
    EXPECT_EQ(0, writeConfigFileAt(t.get(), path.c_str()));
    EXPECT_EQ(before, readAll(path));
    rmdir(blocker.c_str());

    // A folder that does not exist: nothing is written, nothing crashes.
    EXPECT_EQ(0, writeConfigFileAt(t.get(), "/nonexistent-dir/parlo.ini"));
}

TEST(ConfigFile, ForeignBytesInFieldsStayBounded)
{
    TablePtr t = newTable();
    PortEntry* e = &t->entries[0];
    e->inUse = 1;
    memset(e->portName, 'N', sizeof e->portName);
    memset(e->remoteAddress, 'A', sizeof e->remoteAddress);
    memset(e->remotePort, 'R', sizeof e->remotePort);
    memset(e->localPort, 'L', sizeof e->localPort);
    memset(e->protocol, 'P', sizeof e->protocol);
    std::string path = tempPath("parlo.ini");
    ASSERT_EQ(1, writeConfigFileAt(t.get(), path.c_str()));
    std::string expect = "entry_v1_1=" + std::string(22, 'N') + " " + std::string(127, 'A') + " " +
                         std::string(31, 'R') + " enable " + std::string(31, 'P') + " " + std::string(31, 'L') + "\r\n";
    EXPECT_EQ(expect, readAll(path));
}
