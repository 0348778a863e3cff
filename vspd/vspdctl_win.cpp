// VSPDCTL.DLL: creates, deletes and queries virtual serial port pairs. It
// keeps a record of its pairs in the registry so create and delete
// round-trip across processes and restarts.
#include <windows.h>

#include <cstring>

#include "vspd/vspdctl.h"

static int validName(const char* name)
{
    if (!name)
        return 0;
    size_t n = strnlen(name, 32);
    return n > 0 && n < 32;
}

static HKEY openRecord(REGSAM access)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, VSPD_RECORD_KEY, 0, nullptr, 0, access, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

extern "C" __declspec(dllexport) unsigned char WINAPI CreatePair(const char* comName, const char* nullName)
{
    if (!validName(comName) || !validName(nullName))
        return 0;
    HKEY key = openRecord(KEY_SET_VALUE);
    if (!key)
        return 0;
    LONG r = RegSetValueExA(key, comName, 0, REG_SZ, reinterpret_cast<const BYTE*>(nullName),
                            (DWORD)strlen(nullName) + 1);
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) unsigned char WINAPI DeletePair(const char* comName)
{
    if (!validName(comName))
        return 0;
    HKEY key = openRecord(KEY_SET_VALUE);
    if (!key)
        return 0;
    LONG r = RegDeleteValueA(key, comName);
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) unsigned char WINAPI QueryBus(const char* comName, VspdPairInfo* info)
{
    if (!validName(comName) || !info || info->size < sizeof(VspdPairInfo))
        return 0;
    memset(reinterpret_cast<char*>(info) + sizeof info->size, 0, sizeof *info - sizeof info->size);
    HKEY key = openRecord(KEY_QUERY_VALUE);
    if (!key)
        return 0;
    char nullName[32];
    DWORD size = sizeof nullName;
    DWORD type;
    LONG r = RegQueryValueExA(key, comName, nullptr, &type, reinterpret_cast<BYTE*>(nullName), &size);
    RegCloseKey(key);
    info->exists = r == ERROR_SUCCESS && type == REG_SZ;
    return info->exists;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, void*) { return TRUE; }
