// The installer's firewall rule for ParloHost.exe: its fields on their way
// to the firewall, and the firewall's COM interfaces as far as Wine has them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ports/host_firewall.h"

namespace {

struct FirewallRecorder {
    std::vector<std::string> calls;
    FirewallRule rule = {};
    std::string application;
    long addResult = 0, removeResult = 0;
    FirewallOps ops() { return {this, add, remove}; }
    static FirewallRecorder* self(void* c) { return static_cast<FirewallRecorder*>(c); }
    static long add(void* c, const FirewallRule* r)
    {
        self(c)->calls.push_back(std::string("add ") + r->name);
        self(c)->rule = *r;
        self(c)->application = r->application;
        return self(c)->addResult;
    }
    static long remove(void* c, const char* name)
    {
        self(c)->calls.push_back(std::string("remove ") + name);
        return self(c)->removeResult;
    }
};

}  // namespace

TEST(HostFirewall, InboundUdpForTheHostInEveryProfile)
{
    FirewallRecorder fw;
    FirewallOps ops = fw.ops();
    EXPECT_EQ(0, addHostFirewallRule("C:\\Program Files\\ParloMgr", &ops));
    // An earlier rule of the name (another folder, perhaps) goes first.
    EXPECT_EQ((std::vector<std::string>{"remove ParloHost (UDP in)", "add ParloHost (UDP in)"}), fw.calls);
    EXPECT_EQ("C:\\Program Files\\ParloMgr\\ParloHost.exe", fw.application) << "scoped to the program, unquoted";
    EXPECT_EQ(17, fw.rule.protocol) << "UDP";
    EXPECT_EQ(1, fw.rule.direction) << "inbound";
    EXPECT_EQ(0x7FFFFFFF, fw.rule.profiles) << "domain, private and public";
    EXPECT_EQ(1, fw.rule.action) << "allow";
    EXPECT_EQ(1, fw.rule.enabled);

    // The firewall's answer is the result; one that cannot remove still adds.
    fw.calls.clear();
    fw.removeResult = E_ACCESSDENIED;
    fw.addResult = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, addHostFirewallRule("C:\\ParloMgr", &ops));
    EXPECT_EQ(2u, fw.calls.size());
    fw.calls.clear();
    EXPECT_EQ(E_ACCESSDENIED, removeHostFirewallRule(&ops));
    EXPECT_EQ(std::vector<std::string>{"remove ParloHost (UDP in)"}, fw.calls);
}

// Under Wine the policy and its rule collection can be created and Add
// answers S_OK (storing nothing); looking a rule up by name is not
// implemented, so removing fails there. On Windows both reach the firewall.
TEST(HostFirewall, WindowsFirewallTakesTheRule)
{
    EXPECT_EQ(S_OK, addHostFirewallRule("C:\\ParloMgr", &windowsFirewall));
    long removed = removeHostFirewallRule(&windowsFirewall);
    EXPECT_TRUE(removed == S_OK || removed == E_NOTIMPL) << std::hex << removed;
}
