// Window settings in the registry as the manager loads and saves them.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/settings.h"
#include "ports/port_table.h"
#include "res/resource.h"
#include "tests/win32/support/win32_test.h"

namespace {

const char* KEY = "Software\\Quorvat\\ParloMgr";

std::vector<BYTE> storedValue()
{
    std::vector<BYTE> bytes(1024);
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    DWORD size = (DWORD)bytes.size(), type = 0;
    LONG r = RegQueryValueExA(key, "Settings", nullptr, &type, bytes.data(), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_BINARY)
        return {};
    bytes.resize(size);
    return bytes;
}

void storeValue(const void* bytes, DWORD size)
{
    HKEY key;
    RegCreateKeyExA(HKEY_CURRENT_USER, KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExA(key, "Settings", 0, REG_BINARY, (const BYTE*)bytes, size);
    RegCloseKey(key);
}

int32_t word(const std::vector<BYTE>& b, size_t offset)
{
    int32_t v;
    memcpy(&v, b.data() + offset, 4);
    return v;
}

struct SettingsTest : ::testing::Test {
    std::string folder;
    void SetUp() override
    {
        removeHostService();
        ASSERT_TRUE(createStandInTable());
        folder = makeTempFolder("settings");
        SetCurrentDirectoryA(folder.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, KEY);
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(programDirectory().c_str());
        removeFolder(folder);
        releaseStandInTable();
        removeHostService();
    }
    int columnWidth(HWND w, int c) { return (int)SendMessageA(GetDlgItem(w, IDC_PORT_LIST), LVM_GETCOLUMNWIDTH, c, 0); }
};

}  // namespace

TEST_F(SettingsTest, FirstRunDefaultsThenStoredRecord)
{
    std::vector<int> widths;
    int rowHeight = 0, fontHeight = 0;
    int code = runManagerWith([&](HWND w) {
        for (int c = 0; c < 9; c++)
            widths.push_back(columnWidth(w, c));
        TEXTMETRICA tm;
        HDC dc = GetDC(w);
        HGDIOBJ old = SelectObject(dc, listFont);
        GetTextMetricsA(dc, &tm);
        SelectObject(dc, old);
        ReleaseDC(w, dc);
        fontHeight = tm.tmHeight;
        // One row to measure the owner-drawn height.
        writePortEntry(portTable, 0, "\\\\.\\NULL_COM41", "h", "1", "enable", "tcpc", "1");
        portTable->entries[0].present = 1;
        pumpMessages(250);
        RECT r = {};
        r.left = LVIR_BOUNDS;
        SendMessageA(GetDlgItem(w, IDC_PORT_LIST), LVM_GETITEMRECT, 0, (LPARAM)&r);
        rowHeight = r.bottom - r.top;
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    EXPECT_EQ((std::vector<int>{80, 100, 100, 80, 80, 100, 100, 100, 100}), widths);
    EXPECT_EQ(18, windowSettings.font.lfHeight);
    EXPECT_STREQ("MS Shell Dlg", windowSettings.font.lfFaceName);
    EXPECT_EQ(fontHeight + 1, rowHeight) << "rows are the list font's height plus one";

    std::vector<BYTE> v = storedValue();
    ASSERT_EQ(160u, v.size());
    EXPECT_EQ(410, word(v, 0));
    const BYTE flags[8] = {0, 0, 0, 1, 1, 0, 0, 0};
    EXPECT_EQ(0, memcmp(v.data() + 84, flags, 8));
    EXPECT_EQ(60, word(v, 20 + 9 * 4)) << "Monitor widths keep their defaults";
    EXPECT_EQ(300, word(v, 20 + 13 * 4));
    EXPECT_EQ(-1, word(v, 20 + 14 * 4));
    EXPECT_EQ(0x00FFFFFF, word(v, 152));
    EXPECT_EQ(0x000000FF, word(v, 156));
    EXPECT_EQ(18, word(v, 92));
    EXPECT_EQ(0, strcmp((const char*)v.data() + 92 + 28, "MS Shell Dlg"));
}

TEST_F(SettingsTest, DraggedWidthsAndPositionComeBack)
{
    int code = runManagerWith([&](HWND w) {
        SendMessageA(GetDlgItem(w, IDC_PORT_LIST), LVM_SETCOLUMNWIDTH, 3, 177);
        SetWindowPos(w, nullptr, 40, 30, 700, 400, SWP_NOZORDER);
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    ASSERT_TRUE(createStandInTable());
    int width = 0;
    RECT rect = {};
    code = runManagerWith([&](HWND w) {
        width = columnWidth(w, 3);
        GetWindowRect(w, &rect);
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    EXPECT_EQ(177, width);
    EXPECT_EQ(40, rect.left);
    EXPECT_EQ(30, rect.top);
    EXPECT_EQ(700, rect.right - rect.left);
    EXPECT_EQ(400, rect.bottom - rect.top);
}

TEST_F(SettingsTest, ClosingMaximisedKeepsTheLoadedRectangle)
{
    int code = runManagerWith([&](HWND w) {
        ShowWindow(w, SW_MAXIMIZE);
        pumpMessages(100);
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    std::vector<BYTE> v = storedValue();
    ASSERT_EQ(160u, v.size());
    for (int i = 0; i < 4; i++)
        EXPECT_EQ((int32_t)0x80000000, word(v, 4 + 4 * i)) << "first run: the loaded defaults";
}

TEST_F(SettingsTest, ForeignValuesAreIgnored)
{
    // Another version, then a 410 value of the wrong length: defaults stand.
    BYTE record[160] = {};
    int32_t version = 409, width = 250;
    memcpy(record, &version, 4);
    memcpy(record + 20, &width, 4);
    for (DWORD size : {160u, 100u}) {
        if (size == 100) {
            version = 410;
            memcpy(record, &version, 4);
        }
        storeValue(record, size);
        ASSERT_TRUE(createStandInTable());
        int seen = 0;
        int code = runManagerWith([&](HWND w) {
            seen = columnWidth(w, 0);
            PostMessageA(w, WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(0, code);
        EXPECT_EQ(80, seen) << "value of " << size << " bytes";
        std::vector<BYTE> v = storedValue();
        ASSERT_EQ(160u, v.size()) << "overwritten with a whole record at close";
        EXPECT_EQ(410, word(v, 0));
    }
}
