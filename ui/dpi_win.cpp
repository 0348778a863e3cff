// The display DPI of the manager's windows, and what follows it: icons, fonts, lists.
#include "ui/dpi_win.h"

#include <commctrl.h>

#include "ui/list_paint_win.h"
#include "ui/window_settings.h"

namespace {

// Functions of newer systems, looked up once: older ones run without them.
typedef UINT(WINAPI* GetDpiForWindowFn)(HWND);
typedef UINT(WINAPI* GetDpiForSystemFn)(void);
typedef int(WINAPI* GetSystemMetricsForDpiFn)(int, UINT);
typedef BOOL(WINAPI* SystemParametersInfoForDpiFn)(UINT, UINT, PVOID, UINT, UINT);

struct DpiFunctions {
    GetDpiForWindowFn forWindow;
    GetDpiForSystemFn forSystem;
    GetSystemMetricsForDpiFn metrics;
    SystemParametersInfoForDpiFn parameters;
};

const DpiFunctions& dpiFunctions()
{
    static DpiFunctions functions;
    static bool looked;
    if (!looked) {
        HMODULE user = GetModuleHandleA("user32.dll");
        if (user) {
            functions.forWindow = (GetDpiForWindowFn)(void*)GetProcAddress(user, "GetDpiForWindow");
            functions.forSystem = (GetDpiForSystemFn)(void*)GetProcAddress(user, "GetDpiForSystem");
            functions.metrics = (GetSystemMetricsForDpiFn)(void*)GetProcAddress(user, "GetSystemMetricsForDpi");
            functions.parameters =
                (SystemParametersInfoForDpiFn)(void*)GetProcAddress(user, "SystemParametersInfoForDpi");
        }
        looked = true;
    }
    return functions;
}

const char DPI_PROPERTY[] = "ParloMgr.Dpi";

// A DPI as windows may have it: anything else is taken for the base one.
int plausibleDpi(int dpi)
{
    return dpi >= 24 && dpi <= 24 * BASE_DPI ? dpi : BASE_DPI;
}

}  // namespace

int systemDpi()
{
    const DpiFunctions& f = dpiFunctions();
    if (f.forSystem)
        return plausibleDpi((int)f.forSystem());
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : BASE_DPI;
    if (screen)
        ReleaseDC(nullptr, screen);
    return plausibleDpi(dpi);
}

int windowDpi(HWND window)
{
    if (!window)
        return systemDpi();
    HWND top = GetAncestor(window, GA_ROOT);
    if (!top)
        top = window;
    const INT_PTR told = (INT_PTR)GetPropA(top, DPI_PROPERTY);
    if (told)
        return plausibleDpi((int)told);
    const DpiFunctions& f = dpiFunctions();
    if (f.forWindow) {
        const UINT dpi = f.forWindow(top);
        if (dpi)
            return plausibleDpi((int)dpi);
    }
    return systemDpi();
}

int deviceDpi(HDC dc)
{
    if (!dc)
        return systemDpi();
    HWND window = WindowFromDC(dc);
    if (window)
        return windowDpi(window);
    return plausibleDpi(GetDeviceCaps(dc, LOGPIXELSY));
}

void setWindowDpi(HWND window, int dpi)
{
    if (window && dpi > 0)
        SetPropA(window, DPI_PROPERTY, (HANDLE)(INT_PTR)plausibleDpi(dpi));
}

void forgetWindowDpi(HWND window)
{
    if (window)
        RemovePropA(window, DPI_PROPERTY);
}

int dpiOfMessage(WPARAM wParam)
{
    // Both words carry it; the vertical one is what text heights follow.
    const int dpi = HIWORD(wParam);
    return dpi >= 24 && dpi <= 24 * BASE_DPI ? dpi : 0;
}

// Loaded icons and made fonts live as long as the program: windows and
// classes hold them. The tables are bounded (two icons and a few DPIs fill
// a handful of places); beyond them an icon comes at the system's size and
// a font not at all.
namespace {

enum { KEPT_ICONS = 32, KEPT_FONTS = 16 };

struct KeptIcon {
    HINSTANCE instance;
    int id, size;
    HICON icon;
};
KeptIcon keptIcons[KEPT_ICONS];

struct KeptFont {
    int dpi;
    HFONT font;
};
KeptFont keptTextFonts[KEPT_FONTS];

int iconSizeAt(bool big, int dpi)
{
    const int metric = big ? SM_CXICON : SM_CXSMICON;
    const DpiFunctions& f = dpiFunctions();
    if (f.metrics) {
        const int size = f.metrics(metric, (UINT)dpi);
        if (size > 0)
            return size;
    }
    return MulDiv(GetSystemMetrics(metric), dpi, systemDpi());
}

}  // namespace

HICON programIconAt(HINSTANCE instance, int id, bool big, int dpi)
{
    const int size = iconSizeAt(big, plausibleDpi(dpi));
    KeptIcon* free = nullptr;
    for (KeptIcon& k : keptIcons) {
        if (k.icon && k.instance == instance && k.id == id && k.size == size)
            return k.icon;
        if (!k.icon && !free)
            free = &k;
    }
    HICON icon = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR);
    if (!icon)
        return nullptr;
    if (!free) {
        DestroyIcon(icon);
        return LoadIconA(instance, MAKEINTRESOURCEA(id));
    }
    *free = {instance, id, size, icon};
    return icon;
}

HFONT listTextFontAt(int dpi)
{
    dpi = plausibleDpi(dpi);
    KeptFont* free = nullptr;
    for (KeptFont& k : keptTextFonts) {
        if (k.font && k.dpi == dpi)
            return k.font;
        if (!k.font && !free)
            free = &k;
    }
    if (!free)
        return nullptr;
    LOGFONTW log = {};
    const DpiFunctions& f = dpiFunctions();
    if (!f.parameters || !f.parameters(SPI_GETICONTITLELOGFONT, sizeof log, &log, 0, (UINT)dpi)) {
        if (!SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof log, &log, 0))
            return nullptr;
        log.lfHeight = MulDiv(log.lfHeight, dpi, systemDpi());
    }
    HFONT font = CreateFontIndirectW(&log);
    if (font)
        *free = {dpi, font};
    return font;
}

void rescaleListColumns(HWND list, const int32_t* stored, int count, int oldDpi, int newDpi)
{
    if (!list || !stored)
        return;
    HWND header = (HWND)SendMessageA(list, LVM_GETHEADER, 0, 0);
    const int columns = header ? (int)SendMessageA(header, HDM_GETITEMCOUNT, 0, 0) : 0;
    for (int c = 0; c < count && c < columns; c++) {
        const int shown = (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, (WPARAM)c, 0);
        int32_t width = scaleToDpi(storedFromShown(shown, stored[c], oldDpi), newDpi);
        // Negative widths ask the list to size the column itself.
        if (width < 0)
            width = 0;
        SendMessageA(list, LVM_SETCOLUMNWIDTH, (WPARAM)c, (LPARAM)width);
    }
}

void remeasureListRows(HWND list)
{
    if (!list)
        return;
    // A list view measures its owner-drawn rows when made and when it is
    // told it was resized; it is told so at its present size.
    RECT r;
    GetWindowRect(list, &r);
    WINDOWPOS position = {};
    position.hwnd = list;
    position.cx = r.right - r.left;
    position.cy = r.bottom - r.top;
    position.flags = SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOOWNERZORDER | SWP_NOZORDER;
    SendMessageA(list, WM_WINDOWPOSCHANGED, 0, (LPARAM)&position);
    forgetRowPlacement(list);
    InvalidateRect(list, nullptr, TRUE);
}
