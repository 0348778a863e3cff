// Shared helpers of the win32 tests.
#include "tests/win32/support/win32_test.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "ports/port_table.h"

static DialogWatcher* activeWatcher;
static HHOOK cbtHook;

static bool isDialogClass(HWND w)
{
    char cls[32] = "";
    GetClassNameA(w, cls, sizeof cls);
    return strcmp(cls, "#32770") == 0;
}

SeenBox readMessageBox(HWND box)
{
    SeenBox seen{};
    char buf[2048];
    GetWindowTextA(box, buf, sizeof buf);
    seen.caption = buf;
    seen.owner = GetWindow(box, GW_OWNER);
    HWND text = GetDlgItem(box, 0xFFFF);
    if (text) {
        GetWindowTextA(text, buf, sizeof buf);
        seen.text = buf;
    }
    // The icon is a static control holding one of the shared system icons.
    struct { LPCSTR id; const char* name; } icons[] = {
        {IDI_HAND, "error"}, {IDI_EXCLAMATION, "warning"}, {IDI_ASTERISK, "information"},
        {IDI_QUESTION, "question"}};
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        HICON icon = (HICON)SendMessageA(c, STM_GETICON, 0, 0);
        if (!icon)
            continue;
        for (auto& i : icons)
            if (icon == LoadIconA(nullptr, i.id))
                seen.icon = i.name;
    }
    return seen;
}

// A message box is a system dialog whose procedure lives outside this
// program; our own dialogs (which also hold statics with id 0xFFFF) do not.
static bool looksLikeMessageBox(HWND w)
{
    void* proc = (void*)GetWindowLongPtrA(w, DWLP_DLGPROC);
    HMODULE owner = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCSTR)proc, &owner);
    return owner != GetModuleHandleA(nullptr) && GetDlgItem(w, 0xFFFF) != nullptr;
}

// Dialogs are handled once they are up and running their own loop: the
// CBT hook only notes them, a posted WM_NULL (picked up by the message hook)
// does the work.
static LRESULT CALLBACK cbtProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && activeWatcher && isDialogClass((HWND)wParam)) {
        HWND w = (HWND)wParam;
        if (!GetPropA(w, "watched")) {
            SetPropA(w, "watched", (HANDLE)1);
            PostMessageA(w, WM_NULL, 0x5157, (LPARAM)w);
        }
    }
    return CallNextHookEx(cbtHook, code, wParam, lParam);
}

static HHOOK msgHook;

static LRESULT CALLBACK getMsgProc(int code, WPARAM wParam, LPARAM lParam)
{
    MSG* msg = (MSG*)lParam;
    if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == WM_NULL && msg->wParam == 0x5157 &&
        activeWatcher) {
        HWND w = (HWND)msg->lParam;
        msg->wParam = 0;
        if (IsWindow(w)) {
            if (looksLikeMessageBox(w)) {
                activeWatcher->boxes.push_back(readMessageBox(w));
                PostMessageA(w, WM_COMMAND, activeWatcher->answer, 0);
            } else if (activeWatcher->onDialog) {
                activeWatcher->onDialog(w);
            } else {
                PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
            }
        }
    }
    return CallNextHookEx(msgHook, code, wParam, lParam);
}

DialogWatcher::DialogWatcher(int answerWith) : answer(answerWith)
{
    activeWatcher = this;
    cbtHook = SetWindowsHookExA(WH_CBT, cbtProc, nullptr, GetCurrentThreadId());
    msgHook = SetWindowsHookExA(WH_GETMESSAGE, getMsgProc, nullptr, GetCurrentThreadId());
}

DialogWatcher::~DialogWatcher()
{
    UnhookWindowsHookEx(cbtHook);
    UnhookWindowsHookEx(msgHook);
    activeWatcher = nullptr;
}

void removeHostService()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return;
    SC_HANDLE service = OpenServiceA(manager, "PARLOSVR", SERVICE_ALL_ACCESS);
    if (service) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        for (int i = 0; i < 100; i++) {
            if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED)
                break;
            Sleep(50);
        }
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

static HANDLE standInSection;

bool createStandInTable()
{
    standInSection = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(PortTable),
                                        PORT_TABLE_SECTION_NAME);
    if (!standInSection)
        return false;
    void* view = MapViewOfFile(standInSection, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!view)
        return false;
    memset(view, 0, sizeof(PortTable));
    UnmapViewOfFile(view);
    return true;
}

void releaseStandInTable()
{
    if (standInSection)
        CloseHandle(standInSection);
    standInSection = nullptr;
}

std::string makeTempFolder(const char* tag)
{
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%sparlo_%s_%lu", base, tag, GetTickCount());
    CreateDirectoryA(path, nullptr);
    return path;
}

void removeFolder(const std::string& path)
{
    std::string pattern = path + "\\*";
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(fd.cFileName, ".") == 0 || strcmp(fd.cFileName, "..") == 0)
                continue;
            std::string child = path + "\\" + fd.cFileName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeFolder(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

void pumpMessages(DWORD ms)
{
    DWORD end = GetTickCount() + ms;
    while ((LONG)(end - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

bool waitFor(const std::function<bool()>& done, DWORD ms)
{
    const DWORD end = GetTickCount() + ms;
    while (!done() && (LONG)(end - GetTickCount()) > 0)
        pumpMessages(5);
    return done();
}

bool pumpTicks(HWND window, int ticks, DWORD ms)
{
    const DWORD end = GetTickCount() + ms;
    int seen = 0;
    while (seen < ticks && (LONG)(end - GetTickCount()) > 0) {
        MSG msg;
        while (seen < ticks && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            const bool tick = msg.message == WM_TIMER && msg.hwnd == window;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            seen += tick;
        }
        if (seen < ticks)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return seen >= ticks;
}

RECT placedOff(HWND dialog, int id, RECT want)
{
    MapDialogRect(dialog, &want);
    RECT got = {};
    GetWindowRect(GetDlgItem(dialog, id), &got);
    MapWindowPoints(nullptr, dialog, (POINT*)&got, 2);
    return RECT{got.left - want.left, got.top - want.top, got.right - got.left - want.right,
                got.bottom - got.top - want.bottom};
}

std::string programDirectory()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (slash)
        *slash = '\0';
    return path;
}

static std::function<void(HWND)> whileRunning;

static void CALLBACK onThreadTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND w = FindWindowA("PARLOMGR", nullptr);
    if (!w || !IsWindowVisible(w))
        return;
    KillTimer(nullptr, id);
    auto body = whileRunning;
    whileRunning = nullptr;
    if (body)
        body(w);
}

int runManagerWith(std::function<void(HWND)> body)
{
    whileRunning = body;
    SetTimer(nullptr, 0, 100, onThreadTimer);
    return runManager(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
}

bool saveWindowShot(HWND window, const std::string& path)
{
    RECT r;
    GetWindowRect(window, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    DWORD stride = ((DWORD)w * 3 + 3) & ~3u;
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + stride * h;
    bool ok = false;
    FILE* f = fopen(path.c_str(), "wb");
    if (f) {
        ok = fwrite(&fh, sizeof fh, 1, f) == 1 && fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
             fwrite(bits, stride * h, 1, f) == 1;
        fclose(f);
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

std::string shotFolder()
{
    std::string dir = programDirectory() + "\\..\\shots";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

std::string listHeader(HWND list, int column)
{
    char text[128] = "";
    LVCOLUMNA c = {};
    c.mask = LVCF_TEXT;
    c.pszText = text;
    c.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETCOLUMNA, column, (LPARAM)&c);
    return text;
}

std::string listCell(HWND list, int row, int column)
{
    char text[256] = "";
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, row, (LPARAM)&item);
    return text;
}

int listRows(HWND list) { return (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0); }

void selectListRow(HWND list, int row)
{
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, row, (LPARAM)&state);
    SendMessageA(list, LVM_SETSELECTIONMARK, 0, row);
}
