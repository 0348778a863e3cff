// The three device configuration windows as built from their templates:
// size, font, every control's id, place and text, the list's columns. They
// send nothing when they open or when they are cancelled, so these run
// outside the lab too.
#include "tests/win32/devcfg/devcfg_test_util.h"

#include <commctrl.h>

#include "app/app.h"
#include "app/common_controls.h"

namespace {

struct Placed {
    int id;
    RECT at;            // x, y, width, height in dialog units
    const char* text;   // null: not compared
};

void expectPlaced(HWND d, const std::vector<Placed>& controls)
{
    for (const Placed& c : controls) {
        HWND control = GetDlgItem(d, c.id);
        ASSERT_NE(nullptr, control) << "control " << c.id;
        RECT off = placedOff(d, c.id, c.at);
        EXPECT_TRUE(!off.left && !off.top && !off.right && !off.bottom)
            << "control " << c.id << " off by " << off.left << "," << off.top << " size " << off.right << "x"
            << off.bottom;
        if (c.text) {
            char text[128] = "";
            GetDlgItemTextA(d, c.id, text, sizeof text);
            EXPECT_STREQ(c.text, text) << "control " << c.id;
        }
    }
}

// A drop-down list (no typing), unsorted, x/y/width as given and the given
// drop-down height, in dialog units.
void expectComboList(HWND d, int id, RECT at, int dropHeight)
{
    HWND combo = GetDlgItem(d, id);
    ASSERT_NE(nullptr, combo) << "combo " << id;
    LONG style = GetWindowLongA(combo, GWL_STYLE);
    EXPECT_EQ(CBS_DROPDOWNLIST, style & 3) << "combo " << id;
    EXPECT_FALSE(style & CBS_SORT) << "combo " << id;
    RECT off = placedOff(d, id, at);
    EXPECT_TRUE(!off.left && !off.top && !off.right) << "combo " << id;
    RECT drop = {0, 0, 0, dropHeight};
    MapDialogRect(d, &drop);
    // The system may trim the list (whole items, its own margins), never
    // lengthen it: the drop-down ends within two closed heights of the
    // template's height, measured from the combo's top.
    RECT closed;
    GetWindowRect(combo, &closed);
    int dropped = droppedHeight(d, id), slack = 2 * (closed.bottom - closed.top);
    EXPECT_TRUE(dropped <= drop.bottom && dropped >= drop.bottom - slack)
        << "combo " << id << ": " << dropped << " px dropped, " << drop.bottom << " px in the template";
}

void expectFrame(HWND d, const char* title, int width, int height, const char* face, bool centred)
{
    EXPECT_EQ(title, titleOf(d));
    RECT want = {0, 0, width, height}, client;
    MapDialogRect(d, &want);
    GetClientRect(d, &client);
    EXPECT_EQ(want.right, client.right) << title;
    EXPECT_EQ(want.bottom, client.bottom) << title;
    EXPECT_EQ(face, fontFace(d));
    EXPECT_EQ(10, fontPoints(d));
    LONG style = GetWindowLongA(d, GWL_STYLE);
    EXPECT_EQ(WS_CAPTION, style & WS_CAPTION) << title;
    EXPECT_TRUE(style & WS_SYSMENU) << title;
    if (centred) {
        RECT w, area;
        GetWindowRect(d, &w);
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        EXPECT_LE(abs((w.left + w.right) - (area.left + area.right)), 2) << title << " centred across";
        EXPECT_LE(abs((w.top + w.bottom) - (area.top + area.bottom)), 2) << title << " centred down";
    }
}

// Windows opened against a stand-in table and a device record put in place
// by hand; no device is asked anything.
class Templates : public ::testing::Test {
protected:
    HWND owner = nullptr;
    void SetUp() override
    {
        static WSADATA sockets;
        static int started = WSAStartup(MAKEWORD(2, 2), &sockets);
        ASSERT_EQ(0, started);
        if (!appInstance)
            appInstance = GetModuleHandleA(nullptr);
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_INTERNET_CLASSES};
        InitCommonControlsEx(&controls);
        ASSERT_TRUE(createStandInTable());
        ASSERT_EQ(1, mapPortTable());
        DeviceRecord device = {};
        memcpy(device.serialNumber, "LAYOUT000001", 12);
        device.network.ipAddress = inet_addr("10.231.1.40");
        device.network.netmask = inet_addr("255.255.0.0");
        device.network.addressMode = ADDRESS_STATIC;
        clearDeviceTable();
        ASSERT_EQ(0, storeDeviceRecord(&device));
        ASSERT_EQ(1, selectDevice(0));
        memset(PortConfigTable, 0, sizeof PortConfigTable);
        portConfigCount = 0;
        owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr,
                              nullptr);
    }
    void TearDown() override
    {
        if (owner)
            DestroyWindow(owner);
        unmapPortTable();
        releaseStandInTable();
        clearDeviceTable();
    }
};


// ---- the control classes of the built dialog templates ----

// A name or ordinal field of a template; returns the text (ordinals as "#N").
std::string templateField(const WORD*& p)
{
    if (*p == 0) {
        p++;
        return "";
    }
    if (*p == 0xFFFF) {
        std::string ordinal = "#" + std::to_string(p[1]);
        p += 2;
        return ordinal;
    }
    std::string text;
    while (*p)
        text += (char)*p++;
    p++;
    return text;
}

// The class of every control of an extended dialog template.
std::vector<std::string> controlClasses(const void* resource)
{
    const WORD* p = (const WORD*)resource;
    std::vector<std::string> classes;
    if (p[0] != 1 || p[1] != 0xFFFF)
        return {"<not an extended template>"};
    DWORD style = *(const DWORD*)(p + 6);
    int items = p[8];
    p += 13;
    templateField(p);  // menu
    templateField(p);  // class
    templateField(p);  // title
    if (style & DS_SETFONT) {
        p += 3;
        templateField(p);
    }
    for (int i = 0; i < items; i++) {
        p = (const WORD*)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);
        p += 12;  // help id, extended style, style, place, id
        classes.push_back(templateField(p));
        templateField(p);  // title
        p += 1 + (*p + 1) / 2;
    }
    return classes;
}

// The common control class each window class needs; 0 for the system's own.
bool classNeeds(const std::string& name, DWORD* needs)
{
    static const struct { const char* name; DWORD needs; } known[] = {
        {"#128", 0}, {"#129", 0}, {"#130", 0}, {"#131", 0}, {"#132", 0}, {"#133", 0},
        {"Button", 0}, {"Edit", 0}, {"Static", 0}, {"ListBox", 0}, {"ScrollBar", 0}, {"ComboBox", 0},
        {"SysListView32", ICC_LISTVIEW_CLASSES}, {"SysHeader32", ICC_LISTVIEW_CLASSES},
        {"SysIPAddress32", ICC_INTERNET_CLASSES}, {"SysTreeView32", ICC_TREEVIEW_CLASSES},
        {"SysTabControl32", ICC_TAB_CLASSES}, {"msctls_progress32", ICC_PROGRESS_CLASS},
        {"msctls_updown32", ICC_UPDOWN_CLASS}, {"msctls_trackbar32", ICC_BAR_CLASSES},
        {"SysDateTimePick32", ICC_DATE_CLASSES}, {"ComboBoxEx32", ICC_USEREX_CLASSES},
    };
    for (const auto& k : known)
        if (_stricmp(k.name, name.c_str()) == 0) {
            *needs = k.needs;
            return true;
        }
    return false;
}

BOOL CALLBACK collectDialog(HMODULE module, LPCSTR, LPSTR name, LONG_PTR context)
{
    HRSRC found = FindResourceA(module, name, (LPCSTR)RT_DIALOG);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    std::string id = IS_INTRESOURCE(name) ? std::to_string((ULONG_PTR)name) : std::string(name);
    auto& all = *(std::vector<std::pair<std::string, std::vector<std::string>>>*)context;
    all.push_back({id, loaded ? controlClasses(LockResource(loaded)) : std::vector<std::string>{"<unreadable>"}});
    return TRUE;
}
}  // namespace

TEST_F(Templates, NetworkConfigurations)
{
    bool seen = false;
    DialogWatcher watcher;
    watcher.onDialog = [&](HWND d) {
        seen = true;
        expectFrame(d, NETWORK_TITLE, 176, 180, "Microsoft Sans Serif", true);
        expectPlaced(d, {
                            {IDC_NET_IP, {78, 31, 86, 15}, nullptr},
                            {IDC_NET_MASK, {79, 56, 85, 15}, nullptr},
                            {IDC_NET_GATEWAY, {79, 80, 85, 15}, nullptr},
                            {IDC_NET_DNS1, {79, 104, 85, 15}, nullptr},
                            {IDC_NET_DNS2, {79, 126, 84, 15}, nullptr},
                            {IDOK, {45, 156, 35, 17}, "OK"},
                            {IDCANCEL, {113, 156, 36, 17}, "Cancel"},
                        });
        struct { int id; int x, y; const char* text; } labels[] = {
            {IDC_NET_MODE_LABEL, 10, 14, "Connection"},       {IDC_NET_IP_LABEL, 10, 33, "IPAddress"},
            {IDC_NET_MASK_LABEL, 10, 59, "Net mask"},         {IDC_NET_GATEWAY_LABEL, 10, 82, "Gateway"},
            {IDC_NET_DNS1_LABEL, 10, 107, "First DNS Server"}, {IDC_NET_DNS2_LABEL, 10, 129, "Second DNS Server"},
        };
        for (auto& l : labels) {
            RECT off = placedOff(d, l.id, RECT{l.x, l.y, 0, 0});
            EXPECT_TRUE(!off.left && !off.top) << "label " << l.id;
            char text[64] = "";
            GetDlgItemTextA(d, l.id, text, sizeof text);
            EXPECT_STREQ(l.text, text);
        }
        expectComboList(d, IDC_NET_MODE, {79, 12, 85, 0}, 107);
        for (int id : {IDC_NET_IP, IDC_NET_MASK, IDC_NET_GATEWAY, IDC_NET_DNS1, IDC_NET_DNS2}) {
            char cls[32] = "";
            GetClassNameA(GetDlgItem(d, id), cls, sizeof cls);
            EXPECT_STREQ(WC_IPADDRESSA, cls) << "control " << id;
        }
        EXPECT_EQ(BS_DEFPUSHBUTTON, GetWindowLongA(GetDlgItem(d, IDOK), GWL_STYLE) & 0xF);
        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
    };
    EXPECT_EQ(IDCANCEL, openNetworkConfigDialog(owner));
    EXPECT_TRUE(seen);
    EXPECT_EQ(0u, watcher.boxes.size()) << "Cancel asks nothing";
}

TEST_F(Templates, ConfigureDevice)
{
    bool seen = false;
    DialogWatcher watcher(IDCANCEL);
    watcher.onDialog = [&](HWND d) {
        seen = true;
        expectFrame(d, CONFIGURE_TITLE, 434, 207, "MS Shell Dlg", false);
        expectPlaced(d, {
                            {IDC_DEVICE_PORT_LIST, {7, 7, 420, 165}, nullptr},
                            {IDC_MAP_SERIAL_PORT, {342, 179, 61, 19}, "Map Serial Port"},
                        });
        // Only the list and the button: OK and cancel come from the keyboard and the close box.
        EXPECT_EQ(nullptr, GetDlgItem(d, IDOK));
        EXPECT_EQ(nullptr, GetDlgItem(d, IDCANCEL));
        HWND list = GetDlgItem(d, IDC_DEVICE_PORT_LIST);
        LONG style = GetWindowLongA(list, GWL_STYLE);
        EXPECT_EQ(LVS_REPORT, style & LVS_TYPEMASK);
        EXPECT_FALSE(style & LVS_OWNERDRAWFIXED) << "the system draws the list";
        EXPECT_TRUE((style & WS_BORDER) || (GetWindowLongA(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
        EXPECT_TRUE(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
        const char* titles[] = {"Serial Port", "Interface", "Virtual COM", "Baudrate", "Data Bit", "Parity",
                                "Stop Bit"};
        const int widths[] = {80, 70, 80, 130, 110, 90, 90};
        HWND header = (HWND)SendMessageA(list, LVM_GETHEADER, 0, 0);
        EXPECT_EQ(7, (int)SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
        for (int c = 0; c < 7; c++) {
            EXPECT_EQ(titles[c], listHeader(list, c));
            EXPECT_EQ(widths[c], (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0)) << "column " << c;
            LVCOLUMNA col = {};
            col.mask = LVCF_FMT;
            SendMessageA(list, LVM_GETCOLUMNA, c, (LPARAM)&col);
            EXPECT_EQ(LVCFMT_LEFT, col.fmt & LVCFMT_JUSTIFYMASK) << "column " << c;
        }
        EXPECT_EQ(0, listRows(list));
        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
    };
    EXPECT_EQ(IDCANCEL, openConfigureDeviceDialog(owner));
    EXPECT_TRUE(seen);
    ASSERT_EQ(1u, watcher.boxes.size()) << "closing always asks about rebooting";
    EXPECT_EQ(REBOOT_ADVICE, watcher.boxes[0].text);
}

TEST_F(Templates, AutomaticallyCreateSerialPort)
{
    portConfigCount = 1;
    PortConfigTable[0].devicePort = 4001;
    bool seen = false;
    DialogWatcher watcher;
    watcher.onDialog = [&](HWND d) {
        seen = true;
        expectFrame(d, AUTO_TITLE, 152, 160, "Microsoft Sans Serif", true);
        struct { int label, lx, ly; const char* text; int combo, cy; } rows[] = {
            {IDC_AUTO_COM_LABEL, 10, 6, "Virtual Serial Port", IDC_AUTO_COM, 6},
            {IDC_AUTO_CONNECTION_LABEL, 10, 25, "Connection", IDC_AUTO_CONNECTION, 24},
            {IDC_AUTO_INTERFACE_LABEL, 10, 42, "Interface", IDC_AUTO_INTERFACE, 41},
            {IDC_AUTO_BAUD_LABEL, 10, 59, "Baudrate", IDC_AUTO_BAUD, 59},
            {IDC_AUTO_DATA_LABEL, 10, 78, "Data Bit", IDC_AUTO_DATA, 76},
            {IDC_AUTO_PARITY_LABEL, 10, 94, "Parity", IDC_AUTO_PARITY, 94},
            {IDC_AUTO_STOP_LABEL, 10, 114, "Stop Bit", IDC_AUTO_STOP, 112},
        };
        for (auto& r : rows) {
            expectPlaced(d, {{r.label, {r.lx, r.ly, 42, 8}, r.text}});
            expectComboList(d, r.combo, {52, r.cy, 84, 0}, 107);
        }
        expectPlaced(d, {{IDOK, {30, 136, 35, 17}, "OK"}, {IDCANCEL, {92, 136, 36, 17}, "Cancel"}});
        EXPECT_EQ(BS_DEFPUSHBUTTON, GetWindowLongA(GetDlgItem(d, IDOK), GWL_STYLE) & 0xF);
        EXPECT_EQ(owner, GetWindow(d, GW_OWNER));
        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
    };
    selectedPort = 0;
    EXPECT_EQ(IDCANCEL,
              DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_AUTO_CREATE_PORT), owner, autoCreatePortDialogProc, 0));
    EXPECT_TRUE(seen);
    EXPECT_EQ(0u, watcher.boxes.size());
    EXPECT_EQ(0u, portTable->entries[0].inUse) << "Cancel changes nothing";
}

// Start-up registers every common control class any template uses.
TEST(TemplateClasses, EveryControlClassIsRegisteredAtStartUp)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> dialogs;
    EnumResourceNamesA(GetModuleHandleA(nullptr), (LPCSTR)RT_DIALOG, collectDialog, (LONG_PTR)&dialogs);
    EXPECT_GE(dialogs.size(), 8u) << "every dialog of the manager";
    bool ipAddresses = false;
    for (const auto& d : dialogs)
        for (const std::string& name : d.second) {
            DWORD needs = 0;
            EXPECT_TRUE(classNeeds(name, &needs)) << "dialog " << d.first << ": unknown class " << name;
            EXPECT_EQ(needs, needs & COMMON_CONTROL_CLASSES) << "dialog " << d.first << ": " << name;
            ipAddresses |= needs == ICC_INTERNET_CLASSES;
        }
    EXPECT_TRUE(ipAddresses) << "dialog 144's address controls were seen";
}
