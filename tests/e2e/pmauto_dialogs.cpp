// pmauto's dialog commands: what a user does inside a window of the manager
// (reads its controls, types into edits and address fields, picks combo box
// entries, selects and double-clicks list rows, presses buttons), done from
// outside the manager's process with messages the system carries across.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/e2e/pmauto.h"

static std::string flat(const char* s)
{
    std::string out;
    for (; *s; s++) {
        if (*s == '\r')
            out += "\\r";
        else if (*s == '\n')
            out += "\\n";
        else if (*s == '\t')
            out += "\\t";
        else
            out += *s;
    }
    return out;
}

static std::string controlText(HWND c)
{
    char cls[64] = "";
    GetClassNameA(c, cls, sizeof cls);
    if (_stricmp(cls, WC_IPADDRESSA) == 0) {
        // IPM_GETADDRESS writes through its pointer in the control's own
        // process: the address goes to memory allocated there.
        DWORD address = 0;
        RemoteMemory remote(c, sizeof address);
        LRESULT filled = 0;
        if (remote.ok()) {
            filled = SendMessageA(c, IPM_GETADDRESS, 0, (LPARAM)remote.at());
            remote.get(&address, sizeof address);
        }
        if (filled == 0 && SendMessageA(c, IPM_ISBLANK, 0, 0))
            return "";
        char text[32];
        snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", FIRST_IPADDRESS(address), SECOND_IPADDRESS(address),
                 THIRD_IPADDRESS(address), FOURTH_IPADDRESS(address));
        return text;
    }
    char text[2048] = "";
    SendMessageA(c, WM_GETTEXT, sizeof text, (LPARAM)text);
    return flat(text);
}

struct ControlDump {
    HWND dialog;
};

static BOOL CALLBACK dumpControl(HWND c, LPARAM lp)
{
    HWND dialog = (HWND)lp;
    if (GetParent(c) != dialog)
        return TRUE;
    char cls[64] = "";
    GetClassNameA(c, cls, sizeof cls);
    printf("%d\t%s\t%s\t%s\t%s\n", GetDlgCtrlID(c), cls, IsWindowEnabled(c) ? "enabled" : "disabled",
           IsWindowVisible(c) ? "visible" : "hidden", controlText(c).c_str());
    return TRUE;
}

static HWND control(char** argv)
{
    HWND w = pmFindWindow(argv[2], argv[3]);
    return w ? GetDlgItem(w, atoi(argv[4])) : nullptr;
}

// One entry of a combo box in another process. The system carries the
// wide-character form across processes whole; the narrow one is cut short.
static std::string comboEntry(HWND combo, int i)
{
    wchar_t wide[512] = L"";
    if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) >= (LRESULT)(sizeof wide / sizeof wide[0]))
        return "";
    SendMessageW(combo, CB_GETLBTEXT, i, (LPARAM)wide);
    char text[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

// The combo box's entries, one per line: index, selected mark, text.
static int comboItems(HWND combo)
{
    int n = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
    int selected = (int)SendMessageA(combo, CB_GETCURSEL, 0, 0);
    printf("count\t%d\tselected\t%d\n", n, selected);
    for (int i = 0; i < n; i++)
        printf("%d\t%s\t%s\n", i, i == selected ? "*" : " ", comboEntry(combo, i).c_str());
    return 0;
}

static int comboSelect(HWND combo, const char* wanted)
{
    int n = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; i++) {
        if (comboEntry(combo, i) != wanted)
            continue;
        SendMessageA(combo, CB_SETCURSEL, i, 0);
        // A user's choice also tells the dialog.
        PostMessageA(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE), (LPARAM)combo);
        return 0;
    }
    return 1;
}

// Selects (and focuses) one row of a list view in another process.
static int listSelect(HWND list, int row)
{
    RemoteMemory remote(list, sizeof(LVITEMA));
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    if (!remote.put(&item, sizeof item))
        return 1;
    SendMessageA(list, LVM_SETITEMSTATE, (WPARAM)-1, (LPARAM)remote.at());
    int ok = 1;
    if (row >= 0) {
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        remote.put(&item, sizeof item);
        ok = SendMessageA(list, LVM_SETITEMSTATE, row, (LPARAM)remote.at()) != 0;
        SendMessageA(list, LVM_SETSELECTIONMARK, 0, row);
        SendMessageA(list, LVM_ENSUREVISIBLE, row, FALSE);
    }
    return ok ? 0 : 1;
}

// A double click on a row, as the mouse would give it: the list tells its
// parent itself.
static int listDoubleClick(HWND list, int row)
{
    RECT r;
    if (!pmItemRect(list, row, LVIR_LABEL, &r))
        return 1;
    listSelect(list, row);
    LPARAM at = MAKELPARAM(r.left + 4, (r.top + r.bottom) / 2);
    PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageA(list, WM_LBUTTONUP, 0, at);
    return 0;
}

static int setAddress(HWND c, const char* text)
{
    unsigned a, b, d, e;
    char extra;
    if (sscanf(text, "%u.%u.%u.%u%c", &a, &b, &d, &e, &extra) != 4 || a > 255 || b > 255 || d > 255 || e > 255)
        return 1;
    SendMessageA(c, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, d, e));
    return 0;
}

int pmDialogCommand(int argc, char** argv)
{
    std::string cmd = argv[1];
    if (cmd == "controls" && argc == 4) {
        HWND w = pmFindWindow(argv[2], argv[3]);
        if (!w)
            return 1;
        char title[256] = "";
        GetWindowTextA(w, title, sizeof title);
        RECT r;
        GetClientRect(w, &r);
        printf("window\t%s\tclient\t%ld\t%ld\t%s\n", title, r.right, r.bottom,
               IsWindowEnabled(w) ? "enabled" : "disabled");
        EnumChildWindows(w, dumpControl, (LPARAM)w);
        return 0;
    }
    if (cmd == "get-text" && argc == 5) {
        HWND c = control(argv);
        if (!c)
            return 1;
        printf("%s\n", controlText(c).c_str());
        return 0;
    }
    if (cmd == "set-text" && argc == 6) {
        HWND c = control(argv);
        if (!c)
            return 1;
        char cls[64] = "";
        GetClassNameA(c, cls, sizeof cls);
        if (_stricmp(cls, WC_IPADDRESSA) == 0)
            return setAddress(c, argv[5]);
        SendMessageA(c, WM_SETTEXT, 0, (LPARAM)argv[5]);
        PostMessageA(GetParent(c), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), EN_CHANGE), (LPARAM)c);
        return 0;
    }
    if (cmd == "click" && argc == 5) {
        // As a button press reaches its dialog; posted, so a window it opens
        // does not hold this program.
        HWND w = pmFindWindow(argv[2], argv[3]);
        if (!w)
            return 1;
        int id = atoi(argv[4]);
        HWND c = GetDlgItem(w, id);
        if (c && !IsWindowEnabled(c))
            return 1;
        return PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)c) ? 0 : 1;
    }
    if (cmd == "combo" && argc == 5) {
        HWND c = control(argv);
        return c ? comboItems(c) : 1;
    }
    if (cmd == "combo-select" && argc == 6) {
        HWND c = control(argv);
        return c ? comboSelect(c, argv[5]) : 1;
    }
    if (cmd == "list-select" && argc == 6) {
        HWND c = control(argv);
        return c ? listSelect(c, atoi(argv[5])) : 1;
    }
    if (cmd == "list-dblclick" && argc == 6) {
        HWND c = control(argv);
        return c ? listDoubleClick(c, atoi(argv[5])) : 1;
    }
    if (cmd == "close" && argc == 4) {
        HWND w = pmFindWindow(argv[2], argv[3]);
        return w && PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
    }
    return -1;
}
