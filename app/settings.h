// The window settings record: stored layout, defaults, and the check of a stored value.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    SETTINGS_VERSION = 410,
    SETTINGS_BYTES = 160,
    SETTINGS_COLUMN_SLOTS = 16,
    MAIN_LIST_WIDTH_SLOT = 0,     // slots 0..8: main port list columns
    MONITOR_WIDTH_SLOT = 9,       // slots 9..13: Monitor list columns
    SETTINGS_FACE_BYTES = 32,
};

#define SETTINGS_KEY "Software\\Quorvat\\ParloMgr"
#define SETTINGS_VALUE "Settings"
#define SETTINGS_FACE_NAME "MS Shell Dlg"

// Byte for byte the platform's 60-byte single-byte font description.
struct SettingsFont {
    int32_t lfHeight;
    int32_t lfWidth;
    int32_t lfEscapement;
    int32_t lfOrientation;
    int32_t lfWeight;
    uint8_t lfItalic;
    uint8_t lfUnderline;
    uint8_t lfStrikeOut;
    uint8_t lfCharSet;
    uint8_t lfOutPrecision;
    uint8_t lfClipPrecision;
    uint8_t lfQuality;
    uint8_t lfPitchAndFamily;
    char lfFaceName[SETTINGS_FACE_BYTES];
};

// Text and background colours kept with the settings (0x00BBGGRR).
struct RowColours {
    uint32_t text;
    uint32_t background;
};

struct WindowSettings {
    int32_t version;
    int32_t windowLeft;
    int32_t windowTop;
    int32_t windowWidth;
    int32_t windowHeight;
    int32_t columnWidths[SETTINGS_COLUMN_SLOTS];
    uint8_t reservedFlags[6];
    uint8_t padding[2];
    SettingsFont font;
    RowColours rowColours;
};

static_assert(sizeof(SettingsFont) == 60, "SettingsFont layout");
static_assert(offsetof(SettingsFont, lfWeight) == 16, "SettingsFont layout");
static_assert(offsetof(SettingsFont, lfItalic) == 20, "SettingsFont layout");
static_assert(offsetof(SettingsFont, lfPitchAndFamily) == 27, "SettingsFont layout");
static_assert(offsetof(SettingsFont, lfFaceName) == 28, "SettingsFont layout");

static_assert(sizeof(WindowSettings) == SETTINGS_BYTES, "WindowSettings layout");
static_assert(offsetof(WindowSettings, version) == 0, "WindowSettings layout");
static_assert(offsetof(WindowSettings, windowLeft) == 4, "WindowSettings layout");
static_assert(offsetof(WindowSettings, windowTop) == 8, "WindowSettings layout");
static_assert(offsetof(WindowSettings, windowWidth) == 12, "WindowSettings layout");
static_assert(offsetof(WindowSettings, windowHeight) == 16, "WindowSettings layout");
static_assert(offsetof(WindowSettings, columnWidths) == 20, "WindowSettings layout");
static_assert(offsetof(WindowSettings, reservedFlags) == 84, "WindowSettings layout");
static_assert(offsetof(WindowSettings, padding) == 90, "WindowSettings layout");
static_assert(offsetof(WindowSettings, font) == 92, "WindowSettings layout");
static_assert(offsetof(WindowSettings, rowColours) == 152, "WindowSettings layout");
static_assert(offsetof(WindowSettings, rowColours.background) == 156, "WindowSettings layout");

// The process-wide settings, valid from loadSettings on.
extern WindowSettings windowSettings;
// The colours taken from the loaded record; no painter applies them.
extern RowColours storedRowColours;

// Writes the defaults into every field that has one. The version word, the
// reserved byte at offset 86 and the padding are left as they are.
// systemFont is the base of the default font description.
void setDefaultSettings(WindowSettings* settings, const SettingsFont* systemFont);

// Turns a font description into the lists' default: 18 units high, natural
// width, normal weight, "MS Shell Dlg"; other fields are kept.
void applyDefaultFont(SettingsFont* font);

// Decides whether a stored value replaces the settings: only a whole 160-byte
// record with version 410 does. Then it is copied into settings and 1 is
// returned; otherwise settings are untouched and 0 is returned.
int acceptStoredSettings(const uint8_t* bytes, size_t length, WindowSettings* settings);

#ifdef _WIN32
#include <windows.h>

// The lists' font, made from the settings' description; lives until the process ends.
extern HFONT listFont;

// Fills windowSettings from the registry or the defaults, then makes listFont.
void loadSettings();

// Stores the main window's normal placement and portList's column widths,
// then writes the whole record to the registry. Failures are silent.
void saveSettings(HWND mainWindow, HWND portList);
#endif
