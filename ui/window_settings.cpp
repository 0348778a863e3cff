// The window settings record: stored layout, defaults, the check of a stored
// value, and its pixel values at a display's DPI.
#include "ui/window_settings.h"

#include <climits>
#include <cstdint>
#include <cstring>

WindowSettings windowSettings;
RowColours storedRowColours;

static const int32_t DEFAULT_COLUMN_WIDTHS[SETTINGS_COLUMN_SLOTS] = {
    80, 100, 100, 80, 80, 100, 100, 100, 100,  // main port list
    60, 80, 80, 80, 300,                       // Monitor list
    -1, 0,
};
static const uint8_t DEFAULT_RESERVED_FLAGS[6] = {0, 0, 0, 1, 1, 0};

void applyDefaultFont(SettingsFont* font)
{
    font->lfHeight = 18;
    font->lfWidth = 0;
    font->lfWeight = 400;
    memset(font->lfFaceName, 0, sizeof font->lfFaceName);
    memcpy(font->lfFaceName, SETTINGS_FACE_NAME, sizeof SETTINGS_FACE_NAME);
}

void setDefaultSettings(WindowSettings* settings, const SettingsFont* systemFont)
{
    settings->windowLeft = SETTINGS_DEFAULT_PLACEMENT;
    settings->windowTop = SETTINGS_DEFAULT_PLACEMENT;
    settings->windowWidth = SETTINGS_DEFAULT_PLACEMENT;
    settings->windowHeight = SETTINGS_DEFAULT_PLACEMENT;
    memcpy(settings->columnWidths, DEFAULT_COLUMN_WIDTHS, sizeof settings->columnWidths);
    // Offset 86 has no default of its own and is left alone.
    for (int i = 0; i < 6; i++) {
        if (i != 2)
            settings->reservedFlags[i] = DEFAULT_RESERVED_FLAGS[i];
    }
    if (systemFont)
        settings->font = *systemFont;
    applyDefaultFont(&settings->font);
    settings->rowColours.text = 0x00FFFFFF;
    settings->rowColours.background = 0x000000FF;
}

int acceptStoredSettings(const uint8_t* bytes, size_t length, WindowSettings* settings)
{
    // A short value would leave widths and font half written; a long one is
    // not ours either.
    if (!bytes || length != SETTINGS_BYTES)
        return 0;
    int32_t version;
    memcpy(&version, bytes, sizeof version);
    if (version != SETTINGS_VERSION)
        return 0;
    memcpy(settings, bytes, SETTINGS_BYTES);
    // The face name goes to the font engine as a string.
    settings->font.lfFaceName[SETTINGS_FACE_BYTES - 1] = '\0';
    return 1;
}

// value * numerator / denominator to the nearest whole, halves away from zero
// (as the platform's MulDiv), within 32 bits.
static int32_t mulDivRounded(int32_t value, int numerator, int denominator)
{
    const int64_t product = (int64_t)value * numerator;
    const int64_t half = denominator / 2;
    int64_t result = product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
    if (result > INT32_MAX)
        result = INT32_MAX;
    if (result < INT32_MIN)
        result = INT32_MIN;
    return (int32_t)result;
}

static int usableDpi(int dpi)
{
    return dpi > 0 ? dpi : BASE_DPI;
}

int32_t scaleToDpi(int32_t value, int dpi)
{
    return mulDivRounded(value, usableDpi(dpi), BASE_DPI);
}

int32_t scaleFromDpi(int32_t value, int dpi)
{
    return mulDivRounded(value, BASE_DPI, usableDpi(dpi));
}

int32_t storedFromShown(int32_t shown, int32_t stored, int dpi)
{
    // Below 96 DPI two stored values can show alike; above it, scaling back
    // alone would already give the stored value. Either way: the stored one.
    if (scaleToDpi(stored, dpi) == shown)
        return stored;
    return scaleFromDpi(shown, dpi);
}

int32_t placementToDpi(int32_t stored, int dpi)
{
    return stored == SETTINGS_DEFAULT_PLACEMENT ? stored : scaleToDpi(stored, dpi);
}

int32_t storedPlacement(int32_t shown, int32_t stored, int dpi)
{
    if (stored != SETTINGS_DEFAULT_PLACEMENT && scaleToDpi(stored, dpi) == shown)
        return stored;
    const int32_t value = scaleFromDpi(shown, dpi);
    // A real placement never reads back as "let the system choose".
    return value == SETTINGS_DEFAULT_PLACEMENT ? value + 1 : value;
}

CellGeometry cellGeometryAt(int dpi)
{
    return {scaleToDpi(2, dpi), scaleToDpi(1, dpi), scaleToDpi(4, dpi)};
}
