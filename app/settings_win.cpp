// Loading and saving the window settings in the current user's registry hive.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "app/app.h"
#include "app/settings.h"
#include "ui/dpi_win.h"

static void systemFontDescription(SettingsFont* font)
{
    LOGFONTA system = {};
    GetObjectA(GetStockObject(SYSTEM_FONT), sizeof system, &system);
    memcpy(font, &system, sizeof *font);
}

// Reads the stored value into bytes; returns its length, 0 when there is none.
static DWORD readStoredValue(uint8_t* bytes, DWORD size)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_QUERY_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0;
    DWORD length = size;
    LONG status = RegQueryValueExA(key, SETTINGS_VALUE, nullptr, &type, bytes, &length);
    RegCloseKey(key);
    // A value too long for the buffer answers with its full length and is refused by it.
    if (status == ERROR_MORE_DATA)
        return length;
    if (status != ERROR_SUCCESS || type != REG_BINARY)
        return 0;
    return length;
}

void loadSettings()
{
    SettingsFont system;
    systemFontDescription(&system);
    setDefaultSettings(&windowSettings, &system);

    uint8_t stored[SETTINGS_BYTES];
    memset(stored, 0, sizeof stored);
    const DWORD length = readStoredValue(stored, sizeof stored);
    acceptStoredSettings(stored, length, &windowSettings);

    makeListFont();
    storedRowColours = windowSettings.rowColours;
}

void saveSettings(HWND mainWindow, HWND portList)
{
    windowSettings.version = SETTINGS_VERSION;

    const int dpi = windowDpi(mainWindow);
    WindowSettings& s = windowSettings;
    // Only a normal placement is kept; minimised or maximised keeps the loaded one.
    RECT r;
    if (mainWindow && !IsIconic(mainWindow) && !IsZoomed(mainWindow) && GetWindowRect(mainWindow, &r)) {
        s.windowLeft = storedPlacement(r.left, s.windowLeft, dpi);
        s.windowTop = storedPlacement(r.top, s.windowTop, dpi);
        s.windowWidth = storedPlacement(r.right - r.left, s.windowWidth, dpi);
        s.windowHeight = storedPlacement(r.bottom - r.top, s.windowHeight, dpi);
    }

    if (portList) {
        for (int c = 0; c < MAIN_LIST_COLUMNS; c++) {
            int32_t& slot = s.columnWidths[MAIN_LIST_WIDTH_SLOT + c];
            slot = storedFromShown((int32_t)SendMessageA(portList, LVM_GETCOLUMNWIDTH, (WPARAM)c, 0), slot, dpi);
        }
    }

    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, SETTINGS_VALUE, 0, REG_BINARY,
                   reinterpret_cast<const BYTE*>(&windowSettings), SETTINGS_BYTES);
    RegCloseKey(key);
}
