// The lists' font made from the settings' description, at each window's DPI.
#include <windows.h>

#include <cstring>

#include "ui/dpi_win.h"
#include "ui/window_settings.h"

static_assert(sizeof(LOGFONTA) == sizeof(SettingsFont), "font description layout");
static_assert(offsetof(LOGFONTA, lfWeight) == offsetof(SettingsFont, lfWeight), "font layout");
static_assert(offsetof(LOGFONTA, lfFaceName) == offsetof(SettingsFont, lfFaceName), "font layout");

HFONT listFont;

// One font per description and DPI, kept for the process: the description
// never changes while it runs, and a DPI is met again when a window moves back.
enum { KEPT_LIST_FONTS = 16 };
static struct {
    LOGFONTA log;
    HFONT font;
} keptListFonts[KEPT_LIST_FONTS];

HFONT listFontAt(int dpi)
{
    LOGFONTA log;
    memcpy(&log, &windowSettings.font, sizeof log);
    log.lfFaceName[LF_FACESIZE - 1] = '\0';
    log.lfHeight = scaleToDpi(log.lfHeight, dpi);
    log.lfWidth = scaleToDpi(log.lfWidth, dpi);
    int free = -1;
    for (int i = 0; i < KEPT_LIST_FONTS; i++) {
        if (keptListFonts[i].font && memcmp(&keptListFonts[i].log, &log, sizeof log) == 0)
            return keptListFonts[i].font;
        if (!keptListFonts[i].font && free < 0)
            free = i;
    }
    if (free < 0)
        return nullptr;
    HFONT font = CreateFontIndirectA(&log);
    if (font)
        keptListFonts[free] = {log, font};
    return font;
}

void makeListFont()
{
    listFont = listFontAt(systemDpi());
}

int listRowHeight(HWND owner)
{
    HFONT font = listFontAt(windowDpi(owner));
    if (!font)
        return 0;
    HDC dc = GetDC(owner);
    if (!dc)
        return 0;
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA tm;
    const BOOL known = GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(owner, dc);
    return known ? tm.tmHeight + 1 : 0;
}
