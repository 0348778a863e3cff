// Helpers of the Create Virtual Serial Port tests.
#include "tests/win32/createport/createport_test.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ports/create_port_dialog.h"
#include "ports/port_table.h"
#include "vspd/vspdctl.h"

namespace {

struct Script {
    HWND dialog = nullptr;
    std::function<void(HWND)> fill, afterOk;
    bool pressOk = true;
    DialogRun* run = nullptr;
    UINT_PTR timer = 0;
};
Script* script;

// Runs in whatever loop is current once OK was pressed: waits until no
// message box is up, then looks at the dialog if it is still there.
void CALLBACK afterOkTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    if (!script || !IsWindow(script->dialog)) {
        KillTimer(nullptr, id);
        return;
    }
    if (!IsWindowEnabled(script->dialog))
        return;
    KillTimer(nullptr, id);
    script->timer = 0;
    script->run->stayedOpen = true;
    if (script->afterOk)
        script->afterOk(script->dialog);
    PostMessageA(script->dialog, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace

DialogRun runCreateDialog(const std::function<void(HWND)>& fill, bool pressOk,
                          const std::function<void(HWND)>& afterOk)
{
    DialogRun run;
    Script s;
    s.fill = fill;
    s.afterOk = afterOk;
    s.pressOk = pressOk;
    s.run = &run;
    script = &s;
    {
        DialogWatcher watcher;
        watcher.onDialog = [&](HWND d) {
            s.dialog = d;
            run.dialog = d;
            if (s.fill)
                s.fill(d);
            PostMessageA(d, WM_COMMAND, s.pressOk ? IDOK : IDCANCEL, 0);
            if (s.pressOk)
                s.timer = SetTimer(nullptr, 0, 100, afterOkTimer);
        };
        run.result = runCreatePortDialog(nullptr);
        if (s.timer)
            KillTimer(nullptr, s.timer);
        run.boxes = watcher.boxes;
    }
    script = nullptr;
    return run;
}

std::string controlText(HWND dialog, int id)
{
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void selectComboText(HWND dialog, int id, const char* text)
{
    LRESULT i = SendDlgItemMessageA(dialog, id, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)text);
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, i, 0);
}

std::string comboItem(HWND dialog, int id, int index)
{
    char text[256] = "";
    if (SendDlgItemMessageA(dialog, id, CB_GETLBTEXTLEN, index, 0) >= (LRESULT)sizeof text)
        return "<too long>";
    SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, index, (LPARAM)text);
    return text;
}

std::string windowsFile(const char* name)
{
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, sizeof dir);
    return std::string(dir) + "\\" + name;
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

typedef unsigned char(WINAPI* QueryBusFn)(const char*, VspdPairInfo*);
typedef unsigned char(WINAPI* DeletePairFn)(const char*);

static HMODULE driverLibrary()
{
    static HMODULE lib = LoadLibraryA("VSPDCTL.DLL");
    return lib;
}

bool pairExists(const char* com)
{
    HMODULE lib = driverLibrary();
    QueryBusFn query = lib ? (QueryBusFn)(void*)GetProcAddress(lib, "QueryBus") : nullptr;
    if (!query)
        return false;
    VspdPairInfo info = {};
    info.size = sizeof info;
    return query(com, &info) && info.exists;
}

void deletePair(const char* com)
{
    HMODULE lib = driverLibrary();
    DeletePairFn remove = lib ? (DeletePairFn)(void*)GetProcAddress(lib, "DeletePair") : nullptr;
    if (remove)
        remove(com);
}

static bool bindable(int port, int type)
{
    SOCKET s = socket(AF_INET, type, 0);
    if (s == INVALID_SOCKET)
        return false;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((u_short)port);
    bool ok = bind(s, (sockaddr*)&a, sizeof a) == 0;
    closesocket(s);
    return ok;
}

int firstBindablePort(int from)
{
    for (int p = from; p < 65535; p++)
        if (bindable(p, SOCK_DGRAM) && bindable(p, SOCK_STREAM))
            return p;
    return 0;
}

HeldPort::HeldPort(int port, bool udp)
{
    s = socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((u_short)port);
    if (bind(s, (sockaddr*)&a, sizeof a) != 0 || (!udp && listen(s, 1) != 0)) {
        closesocket(s);
        s = INVALID_SOCKET;
    }
}

HeldPort::~HeldPort()
{
    if (s != INVALID_SOCKET)
        closesocket(s);
}

// The prefix's dosdevices folder as a Unix path, from where Wine keeps drive C.
static std::string dosDevicesFolder()
{
    typedef char*(CDECL * UnixNameFn)(const WCHAR*);
    UnixNameFn unixName =
        (UnixNameFn)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (!unixName)
        return "";
    char* c = unixName(L"C:\\");
    if (!c)
        return "";
    std::string drive = c;
    HeapFree(GetProcessHeap(), 0, c);
    while (!drive.empty() && drive.back() == '/')
        drive.pop_back();
    // Either .../dosdevices/c: (the link itself) or .../drive_c (where it leads).
    size_t slash = drive.rfind('/');
    if (slash == std::string::npos)
        return "";
    std::string parent = drive.substr(0, slash);
    return drive.substr(slash + 1) == "c:" ? parent : parent + "/dosdevices";
}

// Wine starts Unix programs too; the handle does not say when they end, so
// callers wait for the effect.
static bool runUnix(const std::string& command)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

static DWORD openError(const char* lowerName)
{
    std::string path = std::string("\\\\.\\") + lowerName;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(h);
    return 0;
}

bool makeDosDevice(const char* lowerName, const char* target)
{
    std::string folder = dosDevicesFolder();
    if (folder.empty())
        return false;
    if (!runUnix("/bin/ln -sfn " + std::string(target) + " " + folder + "/" + lowerName))
        return false;
    for (int i = 0; i < 100; i++) {
        if (openError(lowerName) != ERROR_FILE_NOT_FOUND)
            return true;
        Sleep(30);
    }
    return false;
}

void removeDosDevice(const char* lowerName)
{
    std::string folder = dosDevicesFolder();
    if (folder.empty() || !runUnix("/bin/rm -f " + folder + "/" + lowerName))
        return;
    for (int i = 0; i < 100 && openError(lowerName) != ERROR_FILE_NOT_FOUND; i++)
        Sleep(30);
}

void presentEntry(int index, const char* com, const char* address, const char* remotePort, const char* protocol,
                  const char* localPort)
{
    std::string name = std::string("\\\\.\\NULL_") + com;
    writePortEntry(portTable, index, name.c_str(), address, remotePort, "enable", protocol, localPort);
    portTable->entries[index].present = 1;
}
