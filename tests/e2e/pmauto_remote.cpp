// pmauto's memory inside the manager's process, for messages that carry a
// pointer to a structure.
#include <windows.h>
#include <commctrl.h>

#include "tests/e2e/pmauto.h"

RemoteMemory::RemoteMemory(HWND owner, size_t bytes)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(owner, &pid);
    process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process)
        base = (char*)VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
}

RemoteMemory::~RemoteMemory()
{
    if (base)
        VirtualFreeEx(process, base, 0, MEM_RELEASE);
    if (process)
        CloseHandle(process);
}

bool RemoteMemory::put(const void* data, size_t bytes, size_t offset)
{
    return base && WriteProcessMemory(process, base + offset, data, bytes, nullptr);
}

bool RemoteMemory::get(void* data, size_t bytes, size_t offset)
{
    return base && ReadProcessMemory(process, base + offset, data, bytes, nullptr);
}

bool pmItemRect(HWND list, int row, int part, RECT* out)
{
    RemoteMemory remote(list, sizeof(RECT));
    RECT r = {};
    r.left = part;
    if (!remote.put(&r, sizeof r) || !SendMessageA(list, LVM_GETITEMRECT, row, (LPARAM)remote.at()))
        return false;
    return remote.get(out, sizeof *out);
}
