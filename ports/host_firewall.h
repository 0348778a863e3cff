// The Windows Firewall rule that lets datagrams reach ParloHost.exe. In UDP
// mode a device may send first, and the firewall drops a datagram nobody
// asked for unless a rule allows it; a device network without a gateway is
// an unidentified network, in the Public profile, so the rule covers all.
#pragma once

#define HOST_FIREWALL_RULE_NAME "ParloHost (UDP in)"
#define HOST_FIREWALL_RULE_DESCRIPTION \
    "Lets serial device servers send UDP datagrams to the ports of the PARLOSVR service."
#define HOST_FIREWALL_RULE_GROUP "ParloMgr"

// The firewall's own values for the rule's fields.
enum {
    FIREWALL_PROTOCOL_UDP = 17,          // NET_FW_IP_PROTOCOL_UDP
    FIREWALL_DIRECTION_IN = 1,           // NET_FW_RULE_DIR_IN
    FIREWALL_PROFILES_ALL = 0x7FFFFFFF,  // NET_FW_PROFILE2_ALL: domain, private and public
    FIREWALL_ACTION_ALLOW = 1,           // NET_FW_ACTION_ALLOW
};

struct FirewallRule {
    const char* name;
    const char* description;
    const char* grouping;
    const char* application;             // full path, unquoted
    long protocol;
    int direction;
    long profiles;
    int action;
    int enabled;
};

// Where the rule goes: Windows Firewall (INetFwPolicy2), or a test's
// recorder. Results are HRESULTs (0 success).
struct FirewallOps {
    void* context;
    long (*add)(void* context, const FirewallRule* rule);
    long (*remove)(void* context, const char* name);   // every rule of that name; none is success
};

// Windows Firewall itself.
extern const FirewallOps windowsFirewall;

// Replaces the rule for directory\ParloHost.exe (earlier ones of the same
// name, perhaps for another folder, go first, as far as they can). Returns
// the HRESULT of adding it.
long addHostFirewallRule(const char* directory, const FirewallOps* ops);
long removeHostFirewallRule(const FirewallOps* ops);
