// The inbound rule for ParloHost.exe, through the Windows Firewall's COM
// interfaces.
#include <windows.h>
#include <ole2.h>
// MinGW's libuuid lacks the firewall's GUIDs: this file defines them.
#include <initguid.h>
#include <netfw.h>

#include <cstdio>

#include "ports/host_control.h"
#include "ports/host_firewall.h"

static_assert((int)FIREWALL_PROTOCOL_UDP == (int)NET_FW_IP_PROTOCOL_UDP, "firewall protocol");
static_assert((int)FIREWALL_DIRECTION_IN == (int)NET_FW_RULE_DIR_IN, "firewall direction");
static_assert((int)FIREWALL_PROFILES_ALL == (int)NET_FW_PROFILE2_ALL, "firewall profiles");
static_assert((int)FIREWALL_ACTION_ALLOW == (int)NET_FW_ACTION_ALLOW, "firewall action");

long addHostFirewallRule(const char* directory, const FirewallOps* ops)
{
    static char application[32768 + 32];
    int n = snprintf(application, sizeof application, "%s\\%s", directory, HOST_EXE_NAME);
    if (n <= 0 || (size_t)n >= sizeof application)
        return E_INVALIDARG;
    FirewallRule rule = {HOST_FIREWALL_RULE_NAME,
                         HOST_FIREWALL_RULE_DESCRIPTION,
                         HOST_FIREWALL_RULE_GROUP,
                         application,
                         FIREWALL_PROTOCOL_UDP,
                         FIREWALL_DIRECTION_IN,
                         FIREWALL_PROFILES_ALL,
                         FIREWALL_ACTION_ALLOW,
                         1};
    // An earlier rule that cannot be removed is no reason to go without this one.
    ops->remove(ops->context, rule.name);
    return ops->add(ops->context, &rule);
}

long removeHostFirewallRule(const FirewallOps* ops)
{
    return ops->remove(ops->context, HOST_FIREWALL_RULE_NAME);
}

// ---- Windows Firewall ----

static BSTR wideString(const char* text)
{
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0)
        return nullptr;
    BSTR out = SysAllocStringLen(nullptr, (UINT)(n - 1));
    if (out)
        MultiByteToWideChar(CP_ACP, 0, text, -1, out, n);
    return out;
}

static HRESULT putText(INetFwRule* rule, HRESULT (STDMETHODCALLTYPE INetFwRule::*put)(BSTR), const char* text)
{
    BSTR value = wideString(text);
    if (!value)
        return E_OUTOFMEMORY;
    HRESULT hr = (rule->*put)(value);
    SysFreeString(value);
    return hr;
}

// The policy's rule collection, with COM started for this thread.
struct FirewallRules {
    HRESULT init;
    INetFwPolicy2* policy;
    INetFwRules* rules;
};

static HRESULT openRules(FirewallRules* r)
{
    r->policy = nullptr;
    r->rules = nullptr;
    r->init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                                  reinterpret_cast<void**>(&r->policy));
    if (SUCCEEDED(hr))
        hr = r->policy->get_Rules(&r->rules);
    return hr;
}

static void closeRules(FirewallRules* r)
{
    if (r->rules)
        r->rules->Release();
    if (r->policy)
        r->policy->Release();
    if (SUCCEEDED(r->init))
        CoUninitialize();
}

static long firewallAdd(void*, const FirewallRule* fields)
{
    FirewallRules r;
    INetFwRule* rule = nullptr;
    HRESULT hr = openRules(&r);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwRule,
                              reinterpret_cast<void**>(&rule));
    if (SUCCEEDED(hr))
        hr = putText(rule, &INetFwRule::put_Name, fields->name);
    if (SUCCEEDED(hr))
        hr = putText(rule, &INetFwRule::put_Description, fields->description);
    if (SUCCEEDED(hr))
        hr = putText(rule, &INetFwRule::put_Grouping, fields->grouping);
    if (SUCCEEDED(hr))
        hr = putText(rule, &INetFwRule::put_ApplicationName, fields->application);
    if (SUCCEEDED(hr))
        hr = rule->put_Protocol(fields->protocol);
    if (SUCCEEDED(hr))
        hr = rule->put_Direction((NET_FW_RULE_DIRECTION)fields->direction);
    if (SUCCEEDED(hr))
        hr = rule->put_Profiles(fields->profiles);
    if (SUCCEEDED(hr))
        hr = rule->put_Action((NET_FW_ACTION)fields->action);
    if (SUCCEEDED(hr))
        hr = rule->put_Enabled(fields->enabled ? VARIANT_TRUE : VARIANT_FALSE);
    if (SUCCEEDED(hr))
        hr = r.rules->Add(rule);
    if (rule)
        rule->Release();
    closeRules(&r);
    return hr;
}

enum { FIREWALL_REMOVE_MAX = 16 };   // rules of one name removed at most

static long firewallRemove(void*, const char* name)
{
    FirewallRules r;
    BSTR wide = wideString(name);
    HRESULT hr = wide ? openRules(&r) : E_OUTOFMEMORY;
    // Remove takes one rule of the name; as many as were added go.
    for (int round = 0; SUCCEEDED(hr) && round < FIREWALL_REMOVE_MAX; round++) {
        INetFwRule* found = nullptr;
        HRESULT seen = r.rules->Item(wide, &found);
        if (found)
            found->Release();
        if (seen == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
            break;
        hr = FAILED(seen) ? seen : r.rules->Remove(wide);
    }
    if (wide) {
        closeRules(&r);
        SysFreeString(wide);
    }
    return hr;
}

const FirewallOps windowsFirewall = {nullptr, firewallAdd, firewallRemove};
