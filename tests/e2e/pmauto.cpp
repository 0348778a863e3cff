// pmauto: drives the real ParloMgr.exe from outside its process, the way a
// user's input and eyes would: finds windows, reads message boxes, menus and
// list views, presses buttons and keys, and reads the service's settings.
// Every subcommand prints what it found and exits 0 on success, 1 otherwise.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/e2e/pmauto.h"

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

HWND pmFindWindow(const char* cls, const char* title)
{
    return findWindow(cls, title);
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

// Reads a list view in another process through memory allocated there
// (lastOnly: its last row only, for a long list that keeps growing).
static int cmdList(HWND list, bool lastOnly = false)
{
    const int textBytes = 512;
    RemoteMemory remote(list, sizeof(LVITEMA) + textBytes);
    if (!remote.ok())
        return 1;
    HWND header = (HWND)SendMessageA(list, LVM_GETHEADER, 0, 0);
    int columns = header ? (int)SendMessageA(header, HDM_GETITEMCOUNT, 0, 0) : 1;
    int rows = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    int mark = (int)SendMessageA(list, LVM_GETSELECTIONMARK, 0, 0);
    printf("rows\t%d\tcolumns\t%d\tmark\t%d\n", rows, columns, mark);
    for (int c = 0; c < columns; c++)
        printf("%swidth=%d", c ? "\t" : "", (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0));
    printf("\n");
    for (int r = lastOnly && rows > 0 ? rows - 1 : 0; r < rows; r++) {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = r;
        remote.put(&item, sizeof item);
        SendMessageA(list, LVM_GETITEMA, 0, (LPARAM)remote.at());
        remote.get(&item, sizeof item);
        printf("%ld", (long)item.lParam);
        for (int c = 0; c < columns; c++) {
            LVITEMA t = {};
            t.iSubItem = c;
            t.pszText = remote.at(sizeof(LVITEMA));
            t.cchTextMax = textBytes;
            remote.put(&t, sizeof t);
            SendMessageA(list, LVM_GETITEMTEXTA, r, (LPARAM)remote.at());
            char text[textBytes] = "";
            remote.get(text, textBytes, sizeof(LVITEMA));
            text[textBytes - 1] = '\0';
            printf("\t%s", oneLine(text).c_str());
        }
        printf("\n");
    }
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
            "       list CLASS TITLE CONTROLID | list-tail CLASS TITLE CONTROLID | service-config NAME | service-delete NAME\n"
            "       table-wait MS | port-create INDEX COM ADDRESS RPORT STATE PROTOCOL LPORT\n"
            "       port-create-range INDEX COUNT FIRSTCOM FIRSTADDR PERADDR FIRSTRPORT STATE PROTOCOL\n"
            "       port-delete INDEX | port-command INDEX N | port-show INDEX\n"
            "       port-retarget INDEX RPORT LPORT PROTOCOL ADDRESS\n"
            "       port-wait INDEX FIELD VALUE MS [COUNT] | capture INDEX start|stop|clear | capture-dump INDEX\n"
            "       port-counters INDEX COUNT | port-clear INDEX COUNT | port-write INDEX COM ADDRESS RPORT STATE PROTOCOL LPORT\n"
            "       port-list | port-quiet INDEX COUNT QUIET_MS MS | counters-watch INDEX COUNT STOPFILE MS\n"
            "       controls CLASS TITLE | get-text CLASS TITLE ID | set-text CLASS TITLE ID TEXT\n"
            "       click CLASS TITLE ID | combo CLASS TITLE ID | combo-select CLASS TITLE ID TEXT\n"
            "       list-select CLASS TITLE ID ROW | list-dblclick CLASS TITLE ID ROW | close CLASS TITLE\n"
            "       headers CLASS TITLE ID | move CLASS X Y W H | row-colour CLASS TITLE ID ROW\n"
            "       column-width CLASS TITLE ID COLUMN WIDTH | syscolor N | msgbox-icon MS\n"
            "       type CLASS TITLE ID TEXT | record-args FILE ARG... | device-set-port ADDR SN USER PASS PORT HEX\n");
    return 2;
}

// ---- the port table, for scenarios that make ports without the Create dialog ----

#include "ports/port_table.h"
#include "vspd/vspdctl.h"

static PortTable* mapTable(DWORD waitMs = 0)
{
    DWORD end = GetTickCount() + waitMs;
    for (;;) {
        HANDLE section = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, PORT_TABLE_SECTION_NAME);
        void* view = section ? MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(PortTable)) : nullptr;
        if (view)
            return (PortTable*)view;
        if (section)
            CloseHandle(section);
        if ((LONG)(end - GetTickCount()) <= 0)
            return nullptr;
        Sleep(100);
    }
}

static HMODULE driverLibrary()
{
    static HMODULE lib = LoadLibraryA("VSPDCTL.DLL");
    return lib;
}

static int tableIndex(const char* text)
{
    int index = atoi(text);
    return index >= 0 && index < PORT_TABLE_ENTRIES ? index : -1;
}

static void printPort(const PortEntry* e)
{
    char com[COM_NAME_MAX + 1];
    comName(e, com, sizeof com);
    printf("com=%s inuse=%u present=%u command=%d state=0x%x detail=%u open=%u baud=%u data=%u parity=%u "
           "stop=%u rx=%lld tx=%lld capture=%d write=%d\n",
           com, e->inUse, e->present, e->command, e->linkState, e->linkDetail, e->comOpen, e->comBaudRate,
           e->comDataBits, e->comParity, e->comStopBits, (long long)e->rxBytes, (long long)e->txBytes,
           e->captureActive, e->captureWriteIndex);
}

// The value of one field of printPort's line, by name.
static long long portField(const PortEntry* e, const std::string& name)
{
    if (name == "present") return e->present;
    if (name == "command") return e->command;
    if (name == "state") return e->linkState;
    if (name == "detail") return e->linkDetail;
    if (name == "open") return e->comOpen;
    if (name == "baud") return e->comBaudRate;
    if (name == "rx") return e->rxBytes;
    if (name == "tx") return e->txBytes;
    if (name == "capture") return e->captureActive;
    if (name == "write") return e->captureWriteIndex;
    return -1;
}

static int cmdPortCreate(char** argv)
{
    // INDEX COM ADDRESS REMOTEPORT STATE PROTOCOL LOCALPORT, as the Create dialog would.
    PortTable* table = mapTable(5000);
    int index = tableIndex(argv[2]);
    if (!table || index < 0)
        return 1;
    auto create = (VspdCreatePairFn)(void*)GetProcAddress(driverLibrary(), "CreatePair");
    if (!create)
        return 1;
    std::string com = argv[3];
    std::string nullName = "NULL_" + com;
    unsigned char made = create(com.c_str(), nullName.c_str());
    Sleep(50);
    std::string portName = std::string(PORT_NAME_PREFIX) + com;
    writePortEntry(table, index, portName.c_str(), argv[4], argv[5], argv[6], argv[7], argv[8]);
    printf("created %d %s pair=%u\n", index, com.c_str(), made);
    return 0;
}

static int cmdPortDelete(const char* indexText)
{
    PortTable* table = mapTable();
    int index = tableIndex(indexText);
    if (!table || index < 0)
        return 1;
    PortEntry* e = &table->entries[index];
    char com[COM_NAME_MAX + 1];
    comName(e, com, sizeof com);
    writeShared(&e->command, PORT_DELETE);
    for (int i = 0; i < 260 && readShared(&e->command) == PORT_DELETE; i++)
        Sleep(100);
    if (readShared(&e->command) != 0)
        return 1;
    writeShared(&e->inUse, 0u);
    auto remove = (VspdDeletePairFn)(void*)GetProcAddress(driverLibrary(), "DeletePair");
    printf("deleted %d %s pair=%u\n", index, com, remove ? remove(com) : 0);
    return 0;
}

static int cmdCaptureDump(const char* indexText)
{
    PortTable* table = mapTable();
    int index = tableIndex(indexText);
    if (!table || index < 0)
        return 1;
    const PortEntry* e = &table->entries[index];
    int end = ringSlot(e->captureWriteIndex);
    printf("start=%lld rate=%lld records=%d\n", (long long)e->captureStartTime, (long long)e->captureTickRate, end);
    for (int slot = 0; slot < end; slot++) {
        const CaptureRecord* r = &e->captureRing[slot];
        unsigned length = r->recordLength <= (unsigned)CAPTURE_DATA_BYTES ? r->recordLength : (unsigned)CAPTURE_DATA_BYTES;
        printf("%d\t%s\t%u\t%lld\t", slot, r->recordDirection ? "rx" : "tx", r->recordLength,
               (long long)r->recordTime);
        for (unsigned k = 0; k < length; k++)
            printf("%02X", r->recordData[k]);
        printf("\n");
    }
    return 0;
}

// Samples the counters of COUNT entries from INDEX every 10 ms until the
// file STOPFILE exists (or MS pass): a counter must never go backwards nor
// show a value no port could have carried (negative, or 2^40 bytes and more).
// Prints the samples taken and the first bad one; exit 0 when none was bad.
static int cmdCountersWatch(char** argv)
{
    PortTable* table = mapTable();
    int index = tableIndex(argv[2]);
    int count = atoi(argv[3]);
    if (!table || index < 0 || count < 1 || index + count > PORT_TABLE_ENTRIES)
        return 1;
    std::vector<long long> last(2 * count, 0);
    const long long garbage = 1LL << 40;
    DWORD end = GetTickCount() + atoi(argv[5]);
    long samples = 0;
    std::string bad;
    while (GetFileAttributesA(argv[4]) == INVALID_FILE_ATTRIBUTES && (LONG)(end - GetTickCount()) > 0) {
        for (int k = 0; k < count && bad.empty(); k++) {
            const PortEntry* e = &table->entries[index + k];
            long long now[2] = {__atomic_load_n(&e->rxBytes, __ATOMIC_RELAXED),
                                __atomic_load_n(&e->txBytes, __ATOMIC_RELAXED)};
            for (int d = 0; d < 2; d++) {
                if (now[d] < 0 || now[d] >= garbage || now[d] < last[2 * k + d])
                    bad = "entry " + std::to_string(index + k) + (d ? " tx " : " rx ") +
                          std::to_string(last[2 * k + d]) + " then " + std::to_string(now[d]);
                last[2 * k + d] = now[d];
            }
        }
        samples++;
        Sleep(10);
    }
    printf("samples %ld%s%s\n", samples, bad.empty() ? "" : " bad: ", bad.c_str());
    return bad.empty() ? 0 : 1;
}

// Waits until the counters of COUNT entries from INDEX have not moved for
// QUIET_MS (the traffic has ended), at most MS.
static int cmdPortQuiet(char** argv)
{
    PortTable* table = mapTable();
    int index = tableIndex(argv[2]);
    int count = atoi(argv[3]);
    if (!table || index < 0 || count < 1 || index + count > PORT_TABLE_ENTRIES)
        return 1;
    DWORD quiet = (DWORD)atoi(argv[4]);
    DWORD end = GetTickCount() + atoi(argv[5]);
    long long sum = -1;
    DWORD since = GetTickCount();
    for (;;) {
        long long now = 0;
        for (int k = index; k < index + count; k++)
            now += table->entries[k].rxBytes + table->entries[k].txBytes;
        if (now != sum) {
            sum = now;
            since = GetTickCount();
        } else if (GetTickCount() - since >= quiet) {
            return 0;
        }
        if ((LONG)(end - GetTickCount()) <= 0)
            return 1;
        Sleep(50);
    }
}

// COUNT ports from table entry INDEX and COM<FIRSTCOM> up, PERADDR of them on
// each address from FIRSTADDR up, remote ports from FIRSTRPORT: a bench's worth at once.
static int cmdPortCreateRange(char** argv)
{
    PortTable* table = mapTable(5000);
    int index = tableIndex(argv[2]);
    int count = atoi(argv[3]);
    int firstCom = atoi(argv[4]);
    unsigned long firstAddr = ntohl(inet_addr(argv[5]));
    int perAddr = atoi(argv[6]);
    int firstPort = atoi(argv[7]);
    auto create = (VspdCreatePairFn)(void*)GetProcAddress(driverLibrary(), "CreatePair");
    if (!table || index < 0 || count <= 0 || index + count > PORT_TABLE_ENTRIES || perAddr <= 0 || !create)
        return 1;
    for (int k = 0; k < count; k++) {
        char com[16], nullName[24], portName[32], address[16], remotePort[8];
        snprintf(com, sizeof com, "COM%d", firstCom + k);
        snprintf(nullName, sizeof nullName, "NULL_%s", com);
        snprintf(portName, sizeof portName, "%s%s", PORT_NAME_PREFIX, com);
        unsigned long a = firstAddr + (unsigned long)(k / perAddr);
        snprintf(address, sizeof address, "%lu.%lu.%lu.%lu", a >> 24, (a >> 16) & 255, (a >> 8) & 255, a & 255);
        snprintf(remotePort, sizeof remotePort, "%d", firstPort + k % perAddr);
        create(com, nullName);
        writePortEntry(table, index + k, portName, address, remotePort, argv[8], argv[9], "0");
    }
    printf("created %d ports\n", count);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    std::string cmd = argv[1];
    for (auto group : {pmDialogCommand, pmScenarioCommand, pmDeviceCommand}) {
        int handled = group(argc, argv);
        if (handled >= 0)
            return handled;
    }
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
    if (cmd == "list-tail" && argc == 5) {
        HWND w = findWindow(argv[2], argv[3]);
        HWND list = w ? GetDlgItem(w, atoi(argv[4])) : nullptr;
        return list ? cmdList(list, true) : 1;
    }
    if (cmd == "service-config" && argc == 3)
        return cmdServiceConfig(argv[2]);
    if (cmd == "service-delete" && argc == 3)
        return cmdServiceDelete(argv[2]);
    if (cmd == "table-wait" && argc == 3)
        return mapTable(atoi(argv[2])) ? 0 : 1;
    if (cmd == "port-create" && argc == 9)
        return cmdPortCreate(argv);
    if (cmd == "port-create-range" && argc == 10)
        return cmdPortCreateRange(argv);
    if (cmd == "port-delete" && argc == 3)
        return cmdPortDelete(argv[2]);
    if (cmd == "port-write" && argc == 9) {
        // As port-create, without a pair: a port whose far end cannot be opened.
        PortTable* table = mapTable(5000);
        int index = tableIndex(argv[2]);
        if (!table || index < 0)
            return 1;
        std::string portName = std::string(PORT_NAME_PREFIX) + argv[3];
        writePortEntry(table, index, portName.c_str(), argv[4], argv[5], argv[6], argv[7], argv[8]);
        return 0;
    }
    if (cmd == "port-list" && argc == 2) {
        // Every entry the host holds: "INDEX com=..." as port-show prints it.
        PortTable* table = mapTable();
        if (!table)
            return 1;
        for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
            if (!table->entries[i].present)
                continue;
            printf("%d ", i);
            printPort(&table->entries[i]);
        }
        return 0;
    }
    if (cmd == "counters-watch" && argc == 6)
        return cmdCountersWatch(argv);
    if (cmd == "port-quiet" && argc == 6)
        return cmdPortQuiet(argv);
    if (cmd == "port-retarget" && argc == 7) {
        // INDEX REMOTEPORT LOCALPORT PROTOCOL ADDRESS, as the Edit dialog would.
        PortTable* table = mapTable();
        int index = tableIndex(argv[2]);
        if (!table || index < 0)
            return 1;
        return retargetPortEntry(table, index, argv[3], argv[4], argv[5], argv[6]) ? 0 : 1;
    }
    if (cmd == "port-command" && argc == 4) {
        PortTable* table = mapTable();
        int index = tableIndex(argv[2]);
        if (!table || index < 0)
            return 1;
        writeShared(&table->entries[index].command, atoi(argv[3]));
        return 0;
    }
    if (cmd == "port-show" && argc == 3) {
        PortTable* table = mapTable();
        int index = tableIndex(argv[2]);
        if (!table || index < 0)
            return 1;
        printPort(&table->entries[index]);
        return 0;
    }
    if (cmd == "port-wait" && (argc == 6 || argc == 7)) {
        // INDEX FIELD VALUE MS [COUNT]: waits until the field holds VALUE in
        // COUNT entries from INDEX; prints the first that does not, or the last.
        PortTable* table = mapTable();
        int index = tableIndex(argv[2]);
        int count = argc == 7 ? atoi(argv[6]) : 1;
        if (!table || index < 0 || count < 1 || index + count > PORT_TABLE_ENTRIES)
            return 1;
        long long want = strtoll(argv[4], nullptr, 0);
        DWORD end = GetTickCount() + atoi(argv[5]);
        int k = 0;
        for (;;) {
            while (k < count && portField(&table->entries[index + k], argv[3]) == want)
                k++;
            if (k == count || (LONG)(end - GetTickCount()) <= 0)
                break;
            Sleep(20);
        }
        printPort(&table->entries[index + (k < count ? k : count - 1)]);
        return k == count ? 0 : 1;
    }
    if (cmd == "capture" && argc == 4) {
        PortTable* table = mapTable();
        int index = tableIndex(argv[2]);
        std::string what = argv[3];
        int request = what == "start" ? CAPTURE_START : what == "stop" ? CAPTURE_STOP : what == "clear" ? CAPTURE_CLEAR : 0;
        if (!table || index < 0 || !request)
            return 1;
        writeShared(&table->entries[index].captureCommand, request);
        return 0;
    }
    if (cmd == "capture-dump" && argc == 3)
        return cmdCaptureDump(argv[2]);
    if ((cmd == "port-counters" || cmd == "port-clear") && argc == 4) {
        // COUNT entries from INDEX: "INDEX RX TX" each, or zeroed as Clear
        // Counters does it (two 32-bit halves each, while the host counts).
        PortTable* table = mapTable();
        int index = tableIndex(argv[2]);
        int count = atoi(argv[3]);
        if (!table || index < 0 || count < 1 || index + count > PORT_TABLE_ENTRIES)
            return 1;
        for (int k = index; k < index + count; k++) {
            PortEntry* e = &table->entries[k];
            if (cmd == "port-counters") {
                printf("%d %lld %lld\n", k, (long long)e->rxBytes, (long long)e->txBytes);
                continue;
            }
            volatile int32_t* rx = reinterpret_cast<volatile int32_t*>(&e->rxBytes);
            volatile int32_t* tx = reinterpret_cast<volatile int32_t*>(&e->txBytes);
            rx[0] = 0; rx[1] = 0;
            tx[0] = 0; tx[1] = 0;
        }
        return 0;
    }
    return usage();
}
