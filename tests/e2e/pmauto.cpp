// pmauto: drives the real ParloMgr.exe from outside its process, the way a
// user's input and eyes would: finds windows, reads message boxes, menus and
// list views, presses buttons and keys, and reads the service's settings.
// Every subcommand prints what it found and exits 0 on success, 1 otherwise.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static bool any(const char* s) { return !s || strcmp(s, "-") == 0; }

struct FindArgs {
    const char* cls;
    const char* title;
    bool wantMessageBox;
    HWND found;
};

static BOOL CALLBACK findTop(HWND w, LPARAM lp)
{
    FindArgs* a = (FindArgs*)lp;
    if (!IsWindowVisible(w))
        return TRUE;
    char cls[64] = "", title[256] = "";
    GetClassNameA(w, cls, sizeof cls);
    GetWindowTextA(w, title, sizeof title);
    if (!any(a->cls) && strcmp(cls, a->cls) != 0)
        return TRUE;
    if (!any(a->title) && strcmp(title, a->title) != 0)
        return TRUE;
    if (a->wantMessageBox && !GetDlgItem(w, 0xFFFF))
        return TRUE;
    a->found = w;
    return FALSE;
}

static HWND findWindow(const char* cls, const char* title, bool messageBox = false)
{
    FindArgs a = {cls, title, messageBox, nullptr};
    EnumWindows(findTop, (LPARAM)&a);
    return a.found;
}

static HWND waitWindow(const char* cls, const char* title, DWORD ms, bool messageBox = false)
{
    DWORD end = GetTickCount() + ms;
    for (;;) {
        HWND w = findWindow(cls, title, messageBox);
        if (w)
            return w;
        if ((LONG)(end - GetTickCount()) <= 0)
            return nullptr;
        Sleep(50);
    }
}

static const char* iconName(HWND box)
{
    struct { LPCSTR id; const char* name; } icons[] = {
        {IDI_HAND, "error"}, {IDI_EXCLAMATION, "warning"}, {IDI_ASTERISK, "information"},
        {IDI_QUESTION, "question"}};
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32] = "";
        GetClassNameA(c, cls, sizeof cls);
        if (_stricmp(cls, "Static") != 0 || !(GetWindowLongA(c, GWL_STYLE) & SS_ICON))
            continue;
        HICON icon = (HICON)SendMessageA(c, STM_GETICON, 0, 0);
        if (!icon || !IsWindowVisible(c))
            continue;
        for (auto& i : icons)
            if (icon == LoadIconA(nullptr, i.id))
                return i.name;
        return "other";
    }
    return "none";
}

// Escapes CR, LF and tab so one message prints on one line.
static std::string oneLine(const char* s)
{
    std::string out;
    for (; *s; s++) {
        if (*s == '\r') out += "\\r";
        else if (*s == '\n') out += "\\n";
        else if (*s == '\t') out += "\\t";
        else out += *s;
    }
    return out;
}

static void focusWindow(HWND w)
{
    DWORD target = GetWindowThreadProcessId(w, nullptr);
    DWORD self = GetCurrentThreadId();
    AttachThreadInput(self, target, TRUE);
    SetForegroundWindow(w);
    SetFocus(w);
    AttachThreadInput(self, target, FALSE);
    Sleep(150);
}

static void key(WORD vk, bool up)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = (WORD)MapVirtualKeyA(vk, 0);
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &in, sizeof in);
    Sleep(30);
}

static WORD keyCode(const std::string& k)
{
    if (k == "alt") return VK_MENU;
    if (k == "ctrl") return VK_CONTROL;
    if (k == "shift") return VK_SHIFT;
    if (k == "f4") return VK_F4;
    if (k == "f10") return VK_F10;
    if (k == "esc") return VK_ESCAPE;
    if (k == "enter") return VK_RETURN;
    if (k == "down") return VK_DOWN;
    if (k == "right") return VK_RIGHT;
    if (k == "/") return VK_OEM_2;
    if (k.size() == 1 && isalnum((unsigned char)k[0])) return (WORD)toupper(k[0]);
    return 0;
}

// A chord like "alt+shift+/"; each key goes down in order and up in reverse.
static bool pressChord(const char* chord)
{
    std::vector<WORD> keys;
    std::string s = chord;
    size_t start = 0;
    while (start <= s.size()) {
        size_t plus = s.find('+', start + 1);
        std::string part = s.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
        WORD vk = keyCode(part);
        if (!vk) {
            fprintf(stderr, "unknown key %s\n", part.c_str());
            return false;
        }
        keys.push_back(vk);
        if (plus == std::string::npos)
            break;
        start = plus + 1;
    }
    for (WORD vk : keys) key(vk, false);
    for (size_t i = keys.size(); i-- > 0;) key(keys[i], true);
    return true;
}

static int cmdMenu(HWND w)
{
    HMENU bar = GetMenu(w);
    if (!bar)
        return 1;
    int n = GetMenuItemCount(bar);
    for (int i = 0; i < n; i++) {
        char text[256] = "";
        GetMenuStringA(bar, i, text, sizeof text, MF_BYPOSITION);
        printf("popup\t%s\n", text);
        HMENU sub = GetSubMenu(bar, i);
        int m = sub ? GetMenuItemCount(sub) : 0;
        for (int j = 0; j < m; j++) {
            MENUITEMINFOA info = {};
            char caption[256] = "";
            info.cbSize = sizeof info;
            info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING | MIIM_STATE;
            info.dwTypeData = caption;
            info.cch = sizeof caption;
            GetMenuItemInfoA(sub, j, TRUE, &info);
            if (info.fType & MFT_SEPARATOR)
                printf("item\t-\tseparator\n");
            else
                printf("item\t%u\t%s\t%s\n", info.wID, oneLine(caption).c_str(),
                       (info.fState & (MFS_GRAYED | MFS_CHECKED)) ? "flagged" : "plain");
        }
    }
    return 0;
}

// Reads a list view in another process through memory allocated there.
static int cmdList(HWND list)
{
    DWORD pid;
    GetWindowThreadProcessId(list, &pid);
    HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!proc)
        return 1;
    const int textBytes = 512;
    char* remote = (char*)VirtualAllocEx(proc, nullptr, sizeof(LVITEMA) + textBytes, MEM_COMMIT, PAGE_READWRITE);
    HWND header = (HWND)SendMessageA(list, LVM_GETHEADER, 0, 0);
    int columns = header ? (int)SendMessageA(header, HDM_GETITEMCOUNT, 0, 0) : 1;
    int rows = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    int mark = (int)SendMessageA(list, LVM_GETSELECTIONMARK, 0, 0);
    printf("rows\t%d\tcolumns\t%d\tmark\t%d\n", rows, columns, mark);
    for (int c = 0; c < columns; c++)
        printf("%swidth=%d", c ? "\t" : "", (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0));
    printf("\n");
    for (int r = 0; r < rows; r++) {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = r;
        WriteProcessMemory(proc, remote, &item, sizeof item, nullptr);
        SendMessageA(list, LVM_GETITEMA, 0, (LPARAM)remote);
        ReadProcessMemory(proc, remote, &item, sizeof item, nullptr);
        printf("%ld", (long)item.lParam);
        for (int c = 0; c < columns; c++) {
            LVITEMA t = {};
            t.iSubItem = c;
            t.pszText = remote + sizeof(LVITEMA);
            t.cchTextMax = textBytes;
            WriteProcessMemory(proc, remote, &t, sizeof t, nullptr);
            SendMessageA(list, LVM_GETITEMTEXTA, r, (LPARAM)remote);
            char text[textBytes] = "";
            ReadProcessMemory(proc, remote + sizeof(LVITEMA), text, textBytes, nullptr);
            text[textBytes - 1] = '\0';
            printf("\t%s", oneLine(text).c_str());
        }
        printf("\n");
    }
    VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
    CloseHandle(proc);
    return 0;
}

static int cmdServiceConfig(const char* name)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS) : nullptr;
    if (!service) {
        printf("missing\n");
        return 1;
    }
    union { QUERY_SERVICE_CONFIGA c; char bytes[8192]; } buf;
    DWORD needed;
    SERVICE_STATUS st = {};
    QueryServiceStatus(service, &st);
    if (!QueryServiceConfigA(service, &buf.c, sizeof buf, &needed))
        return 1;
    printf("type=0x%lx start=%lu error=%lu state=%lu path=%s display=%s\n", buf.c.dwServiceType,
           buf.c.dwStartType, buf.c.dwErrorControl, st.dwCurrentState, buf.c.lpBinaryPathName,
           buf.c.lpDisplayName ? buf.c.lpDisplayName : "");
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}

static int cmdServiceDelete(const char* name)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_ALL_ACCESS) : nullptr;
    if (!service)
        return 0;
    SERVICE_STATUS st;
    ControlService(service, SERVICE_CONTROL_STOP, &st);
    for (int i = 0; i < 100 && QueryServiceStatus(service, &st) && st.dwCurrentState != SERVICE_STOPPED; i++)
        Sleep(50);
    int ok = DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok ? 0 : 1;
}

static int usage()
{
    fprintf(stderr,
            "pmauto wait-window CLASS TITLE MS | wait-gone CLASS TITLE MS | msgbox MS [BUTTON]\n"
            "       menu CLASS | command CLASS ID | post CLASS MSG WPARAM LPARAM | keys CLASS CHORD...\n"
            "       list CLASS TITLE CONTROLID | service-config NAME | service-delete NAME\n");
    return 2;
}

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    std::string cmd = argv[1];
    if (cmd == "wait-window" && argc == 5) {
        HWND w = waitWindow(argv[2], argv[3], atoi(argv[4]));
        if (!w)
            return 1;
        RECT r;
        GetWindowRect(w, &r);
        printf("%p\t%ld\t%ld\t%ld\t%ld\n", (void*)w, r.left, r.top, r.right, r.bottom);
        return 0;
    }
    if (cmd == "wait-gone" && argc == 5) {
        DWORD end = GetTickCount() + atoi(argv[4]);
        while (findWindow(argv[2], argv[3])) {
            if ((LONG)(end - GetTickCount()) <= 0)
                return 1;
            Sleep(50);
        }
        return 0;
    }
    if (cmd == "msgbox" && (argc == 3 || argc == 4)) {
        HWND box = waitWindow("#32770", "-", atoi(argv[2]), true);
        if (!box)
            return 1;
        char caption[256] = "", text[2048] = "", ownerClass[64] = "";
        GetWindowTextA(box, caption, sizeof caption);
        GetWindowTextA(GetDlgItem(box, 0xFFFF), text, sizeof text);
        HWND owner = GetWindow(box, GW_OWNER);
        if (owner)
            GetClassNameA(owner, ownerClass, sizeof ownerClass);
        printf("%s\t%s\t%s\t%s\n", oneLine(caption).c_str(), oneLine(text).c_str(), iconName(box),
               owner ? ownerClass : "none");
        fflush(stdout);
        if (argc == 4)
            PostMessageA(box, WM_COMMAND, atoi(argv[3]), 0);
        return 0;
    }
    if (cmd == "menu" && argc == 3) {
        HWND w = findWindow(argv[2], "-");
        return w ? cmdMenu(w) : 1;
    }
    if (cmd == "command" && argc == 4) {
        HWND w = findWindow(argv[2], "-");
        return w && PostMessageA(w, WM_COMMAND, atoi(argv[3]), 0) ? 0 : 1;
    }
    if (cmd == "post" && argc == 6) {
        HWND w = findWindow(argv[2], "-");
        return w && PostMessageA(w, strtoul(argv[3], nullptr, 0), strtoul(argv[4], nullptr, 0),
                                 strtol(argv[5], nullptr, 0)) ? 0 : 1;
    }
    if (cmd == "keys" && argc >= 4) {
        HWND w = findWindow(argv[2], "-");
        if (!w)
            return 1;
        focusWindow(w);
        for (int i = 3; i < argc; i++)
            if (!pressChord(argv[i]))
                return 1;
        return 0;
    }
    if (cmd == "list" && argc == 5) {
        HWND w = findWindow(argv[2], argv[3]);
        HWND list = w ? GetDlgItem(w, atoi(argv[4])) : nullptr;
        return list ? cmdList(list) : 1;
    }
    if (cmd == "service-config" && argc == 3)
        return cmdServiceConfig(argv[2]);
    if (cmd == "service-delete" && argc == 3)
        return cmdServiceDelete(argv[2]);
    return usage();
}
