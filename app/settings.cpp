// The window settings record: stored layout, defaults, and the check of a stored value.
#include "app/settings.h"

#include <cstring>

WindowSettings windowSettings;
RowColours storedRowColours;

static const int32_t DEFAULT_COLUMN_WIDTHS[SETTINGS_COLUMN_SLOTS] = {
    80, 100, 100, 80, 80, 100, 100, 100, 100,  // main port list
    60, 80, 80, 80, 300,                       // Monitor list
    -1, 0,
};
static const uint8_t DEFAULT_RESERVED_FLAGS[6] = {0, 0, 0, 1, 1, 0};
static const int32_t DEFAULT_POSITION = (int32_t)0x80000000;  // the system chooses

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
    settings->windowLeft = DEFAULT_POSITION;
    settings->windowTop = DEFAULT_POSITION;
    settings->windowWidth = DEFAULT_POSITION;
    settings->windowHeight = DEFAULT_POSITION;
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
