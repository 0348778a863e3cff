// Helpers of the device configuration window tests.
#include "tests/win32/devcfg/devcfg_test_util.h"

#include <commctrl.h>

#include <cstring>

#include "app/app.h"

namespace {

struct Job {
    std::function<bool()> ready;
    std::function<void()> then, otherwise;
    DWORD start, ms;
};
std::map<UINT_PTR, Job>& jobs()
{
    static std::map<UINT_PTR, Job> j;
    return j;
}

void CALLBACK pollJob(HWND, UINT, UINT_PTR id, DWORD)
{
    auto it = jobs().find(id);
    if (it == jobs().end()) {
        KillTimer(nullptr, id);
        return;
    }
    bool ready = it->second.ready();
    bool expired = GetTickCount() - it->second.start > it->second.ms;
    if (!ready && !expired)
        return;
    // Taken off first: what runs may open a modal loop of its own.
    KillTimer(nullptr, id);
    Job job = it->second;
    jobs().erase(it);
    if (ready)
        job.then();
    else if (job.otherwise)
        job.otherwise();
}

BoxButtons* activeButtons;
HHOOK buttonsHook;

LRESULT CALLBACK buttonsProc(int code, WPARAM wParam, LPARAM lParam)
{
    HWND w = (HWND)wParam;
    if (code == HCBT_ACTIVATE && activeButtons && GetDlgItem(w, 0xFFFF) && titleOf(w) != AUTO_TITLE &&
        titleOf(w) != NETWORK_TITLE && titleOf(w) != CONFIGURE_TITLE) {
        std::vector<int> ids;
        for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
            HWND b = GetDlgItem(w, id);
            if (b && (GetWindowLongA(b, GWL_STYLE) & WS_VISIBLE))
                ids.push_back(id);
        }
        activeButtons->seen.push_back(ids);
    }
    return CallNextHookEx(buttonsHook, code, wParam, lParam);
}

}  // namespace

void whenReady(std::function<bool()> ready, std::function<void()> then, DWORD ms, std::function<void()> otherwise)
{
    UINT_PTR id = SetTimer(nullptr, 0, 20, pollJob);
    jobs()[id] = Job{ready, then, otherwise, GetTickCount(), ms};
}

void dropPendingJobs()
{
    for (auto& job : jobs())
        KillTimer(nullptr, job.first);
    jobs().clear();
}

std::string titleOf(HWND window)
{
    char text[128] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

static LOGFONTA fontOf(HWND dialog)
{
    LOGFONTA f = {};
    HFONT font = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
    if (font)
        GetObjectA(font, sizeof f, &f);
    return f;
}

std::string fontFace(HWND dialog) { return fontOf(dialog).lfFaceName; }

int fontPoints(HWND dialog)
{
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    LONG height = fontOf(dialog).lfHeight;
    return MulDiv(height < 0 ? -height : height, 72, dpi);
}

std::vector<std::string> comboItems(HWND dialog, int id)
{
    std::vector<std::string> items;
    int count = (int)SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++)
        items.push_back(comboItem(dialog, id, i));
    return items;
}

std::string comboSelection(HWND dialog, int id)
{
    int i = (int)SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
    return i < 0 ? "<none>" : comboItem(dialog, id, i);
}

int droppedHeight(HWND dialog, int id)
{
    // From the combo's top to the bottom of its dropped list: some systems
    // report the list's own rectangle, others the whole.
    RECT r = {}, combo = {};
    SendDlgItemMessageA(dialog, id, CB_GETDROPPEDCONTROLRECT, 0, (LPARAM)&r);
    GetWindowRect(GetDlgItem(dialog, id), &combo);
    return r.bottom - combo.top;
}


void setAddressControl(HWND dialog, int id, const char* dotted)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    sscanf(dotted, "%u.%u.%u.%u", &a, &b, &c, &d);
    SendDlgItemMessageA(dialog, id, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
}

BoxButtons::BoxButtons()
{
    activeButtons = this;
    buttonsHook = SetWindowsHookExA(WH_CBT, buttonsProc, nullptr, GetCurrentThreadId());
}

BoxButtons::~BoxButtons()
{
    UnhookWindowsHookEx(buttonsHook);
    activeButtons = nullptr;
}

std::vector<uint8_t> logPayload(const std::string& line)
{
    std::string hex = logField(line, "payload");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back((uint8_t)strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}

std::string hexOf(const std::vector<uint8_t>& bytes)
{
    std::string out;
    char two[3];
    for (uint8_t b : bytes) {
        snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

void DevcfgLab::SetUp()
{
    LabTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
        return;
    // The real windows behind the scan window's buttons.
    showNetworkConfig = openNetworkConfigDialog;
    showConfigureDevice = openConfigureDeviceDialog;
    if (!appInstance)
        appInstance = GetModuleHandleA(nullptr);
    static bool once = [] {
        removeHostService();
        return true;
    }();
    (void)once;
    ASSERT_EQ(1, bindDriverLibrary());
    ASSERT_TRUE(createStandInTable());
    ASSERT_EQ(1, mapPortTable());
    DeleteFileA(windowsFile("parlo.ini").c_str());
    owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, owner);
}

void DevcfgLab::TearDown()
{
    dropPendingJobs();
    if (!lab)
        return;
    for (const std::string& com : pairsToDelete)
        deletePair(com.c_str());
    unmapPortTable();
    releaseStandInTable();
    DeleteFileA(windowsFile("parlo.ini").c_str());
    if (owner)
        DestroyWindow(owner);
    LabTest::TearDown();
}

void DevcfgLab::scan(int expected)
{
    ScanWindow w;
    ASSERT_TRUE(w.waitScanEnd());
    ASSERT_EQ(expected, w.rowCount());
}

void DevcfgLab::query(int expectedPorts)
{
    DialogWatcher watcher;
    ASSERT_EQ(1, selectDevice(0));
    ASSERT_EQ(1, getSerialPortConfigs(owner, 0, 0));
    ASSERT_EQ(0u, watcher.boxes.size());
    ASSERT_EQ(expectedPorts, portConfigCount);
}

void DevcfgLab::clearLogs()
{
    bool ok = false;
    lab->ctl("log all clear", &ok);
    ASSERT_TRUE(ok);
}

INT_PTR DevcfgLab::openAutoCreate(int port)
{
    selectedPort = port;
    return DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_AUTO_CREATE_PORT), owner, autoCreatePortDialogProc, 0);
}

HostStandIn::HostStandIn(const std::string& com, DWORD ms)
{
    PortTable* table = portTable;
    thread_ = std::thread([this, com, ms, table] {
        std::string name = "\\\\.\\NULL_" + com;
        for (DWORD waited = 0; waited < ms && !stop_; waited += 10) {
            for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
                PortEntry& e = table->entries[i];
                if (readShared(&e.inUse) && strncmp(e.portName, name.c_str(), sizeof e.portName) == 0) {
                    writeShared(&e.present, 1u);
                    entry_ = i;
                    return;
                }
            }
            Sleep(10);
        }
    });
}

HostStandIn::~HostStandIn()
{
    stop_ = true;
    thread_.join();
}
