// The window settings record every window reads (stored layout, defaults, the
// check of a stored value), and its pixel values at a display's DPI.
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

// The stored position and size that let the system choose (CW_USEDEFAULT).
const int32_t SETTINGS_DEFAULT_PLACEMENT = (int32_t)0x80000000;

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

// Every pixel value in it is one of a 96-DPI display, whatever the display
// it was saved on: a record moves between machines and scalings unchanged.
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

// Pixel values at a display's DPI. The record and every pixel value written
// in the program are those of 96 DPI; a window scales them to its own DPI
// with value * dpi / 96, rounded to the nearest pixel, halves away from zero.
// A DPI below 1 counts as 96; results are kept within 32 bits.
enum { BASE_DPI = 96 };
int32_t scaleToDpi(int32_t value, int dpi);
// The 96-DPI value of a pixel value at dpi (value * 96 / dpi, rounded alike).
int32_t scaleFromDpi(int32_t value, int dpi);

// What to store for a value shown at dpi that was stored as `stored`: the
// stored value itself while the shown one is still its scaled value, so that
// a width nobody touched is kept exactly at any DPI; otherwise the shown
// value brought to 96 DPI. Saving again what was loaded never changes it.
int32_t storedFromShown(int32_t shown, int32_t stored, int dpi);

// The main window's position or size at dpi; the value that lets the system
// choose passes unchanged, both ways.
int32_t placementToDpi(int32_t stored, int dpi);
int32_t storedPlacement(int32_t shown, int32_t stored, int dpi);

// Where a cell's text stands and how much of the cell it may not use, at a DPI.
struct CellGeometry {
    int textLeft;  // from the cell's left edge: 2 at 96 DPI
    int textTop;   // from the cell's top: 1 at 96 DPI
    int margin;    // a text is shortened when wider than the cell less this: 4 at 96 DPI
};
CellGeometry cellGeometryAt(int dpi);

#ifdef _WIN32
#include <windows.h>

// The lists' font at the system DPI, made from the settings' description by
// makeListFont; lives until the process ends.
extern HFONT listFont;

// Makes listFont from windowSettings' font description (after loading it).
void makeListFont();

// listFont for a window of dpi: the description's height scaled to it. Made
// once per DPI and kept; null when no font can be made.
HFONT listFontAt(int dpi);

// The row height of an owner-drawn list whose owner is `owner`: the text
// height of listFont at the owner's DPI, plus 1. 0 when the font's metrics
// cannot be read.
int listRowHeight(HWND owner);
#endif
