// pmauto's commands for the manager's own scenarios: column titles of a list
// view in another process, moving a window or a column divider as a user's drag would,
// the icon of a message box and the colour of a list row as they look on the screen.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "tests/e2e/pmauto.h"

// The list view's column titles, one line, tab-separated.
static int listHeaders(HWND list)
{
    HWND header = (HWND)SendMessageA(list, LVM_GETHEADER, 0, 0);
    if (!header)
        return 1;
    const int textBytes = 256;
    RemoteMemory remote(list, sizeof(HDITEMA) + textBytes);
    if (!remote.ok())
        return 1;
    int columns = (int)SendMessageA(header, HDM_GETITEMCOUNT, 0, 0);
    for (int c = 0; c < columns; c++) {
        HDITEMA item = {};
        item.mask = HDI_TEXT;
        item.pszText = remote.at(sizeof(HDITEMA));
        item.cchTextMax = textBytes;
        remote.put(&item, sizeof item);
        char text[textBytes] = "";
        if (SendMessageA(header, HDM_GETITEMA, c, (LPARAM)remote.at()))
            remote.get(text, textBytes, sizeof(HDITEMA));
        text[textBytes - 1] = '\0';
        printf("%s%s", c ? "\t" : "", text);
    }
    printf("\n");
    return 0;
}

static BOOL CALLBACK findBox(HWND w, LPARAM lp)
{
    char cls[64] = "";
    GetClassNameA(w, cls, sizeof cls);
    if (!IsWindowVisible(w) || strcmp(cls, "#32770") != 0 || !GetDlgItem(w, 0xFFFF))
        return TRUE;
    *(HWND*)lp = w;
    return FALSE;
}

static BOOL CALLBACK findIcon(HWND c, LPARAM lp)
{
    char cls[32] = "";
    GetClassNameA(c, cls, sizeof cls);
    if (_stricmp(cls, "Static") != 0 || (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) != SS_ICON ||
        !IsWindowVisible(c))
        return TRUE;
    *(HWND*)lp = c;
    return FALSE;
}

// A 32-bit top-down bitmap of w x h pixels selected into a new memory context.
struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    DWORD* pixels;
};

static bool makeCanvas(Canvas* c, int w, int h)
{
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    c->dc = CreateCompatibleDC(nullptr);
    c->bitmap = CreateDIBSection(c->dc, &bi, DIB_RGB_COLORS, (void**)&c->pixels, nullptr, 0);
    if (!c->dc || !c->bitmap)
        return false;
    c->old = SelectObject(c->dc, c->bitmap);
    return true;
}

static void dropCanvas(Canvas* c)
{
    SelectObject(c->dc, c->old);
    DeleteObject(c->bitmap);
    DeleteDC(c->dc);
}

// Which system icon the picture at screen rectangle r looks like, or "other";
// diff receives the mean difference per colour channel of the nearest one.
static const char* nearestIcon(const RECT& r, double* diff)
{
    const int w = r.right - r.left, h = r.bottom - r.top;
    *diff = 1e300;
    Canvas shown;
    if (w <= 0 || h <= 0 || !makeCanvas(&shown, w, h))
        return "other";
    HDC screen = GetDC(nullptr);
    BitBlt(shown.dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    GdiFlush();

    struct { LPCSTR id; const char* name; } icons[] = {
        {IDI_HAND, "error"}, {IDI_EXCLAMATION, "warning"}, {IDI_ASTERISK, "information"},
        {IDI_QUESTION, "question"}};
    const char* best = "other";
    for (auto& candidate : icons) {
        Canvas drawn;
        if (!makeCanvas(&drawn, w, h))
            break;
        // The icon's corners are transparent: they show the box's background.
        for (int i = 0; i < w * h; i++)
            drawn.pixels[i] = shown.pixels[0];
        DrawIconEx(drawn.dc, 0, 0, LoadIconA(nullptr, candidate.id), w, h, 0, nullptr, DI_NORMAL);
        GdiFlush();
        double d = 0;
        for (int i = 0; i < w * h; i++)
            for (int shift = 0; shift < 24; shift += 8)
                d += abs((int)((drawn.pixels[i] >> shift) & 255) - (int)((shown.pixels[i] >> shift) & 255));
        d /= (double)(w * h * 3);
        if (d < *diff) {
            *diff = d;
            best = candidate.name;
        }
        dropCanvas(&drawn);
    }
    dropCanvas(&shown);
    return best;
}

// The message box's icon, named by which system icon it looks like: icon
// handles do not compare across processes under Wine, pixels do. A box that
// is not painted yet is looked at again until ms have passed.
static int messageBoxIcon(DWORD ms)
{
    HWND box = nullptr;
    DWORD end = GetTickCount() + ms;
    while (EnumWindows(findBox, (LPARAM)&box), !box) {
        if ((LONG)(end - GetTickCount()) <= 0)
            return 1;
        Sleep(50);
    }
    HWND icon = nullptr;
    EnumChildWindows(box, findIcon, (LPARAM)&icon);
    if (!icon || !SendMessageA(icon, STM_GETICON, 0, 0)) {
        printf("none\n");
        return 0;
    }
    for (;;) {
        RECT r;
        GetWindowRect(icon, &r);
        double diff;
        const char* name = nearestIcon(r, &diff);
        // A near miss is some other picture.
        if (diff < 4.0 || (LONG)(end - GetTickCount()) <= 0) {
            printf("%s\n", diff < 4.0 ? name : "other");
            return 0;
        }
        Sleep(100);
    }
}

// The colour that covers most of a list row's first cell on the screen: the
// cell's background, which its short text leaves mostly bare. As RRGGBB.
static int rowColour(HWND list, int row)
{
    RECT r = {};
    const bool ok = pmItemRect(list, row, LVIR_BOUNDS, &r);
    const int w = (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0), h = r.bottom - r.top;
    Canvas shown;
    if (!ok || w <= 0 || h <= 0 || !makeCanvas(&shown, w, h))
        return 1;
    POINT at = {r.left, r.top};
    ClientToScreen(list, &at);
    HDC screen = GetDC(nullptr);
    BitBlt(shown.dc, 0, 0, w, h, screen, at.x, at.y, SRCCOPY);
    ReleaseDC(nullptr, screen);
    GdiFlush();
    std::map<DWORD, int> counts;
    for (int i = 0; i < w * h; i++)
        counts[shown.pixels[i] & 0xFFFFFF]++;
    dropCanvas(&shown);
    DWORD best = 0;
    int most = 0;
    for (auto& c : counts)
        if (c.second > most) {
            most = c.second;
            best = c.first;
        }
    printf("%06lX\n", (unsigned long)best);  // a DIB pixel is 0x00RRGGBB
    return 0;
}

int pmScenarioCommand(int argc, char** argv)
{
    std::string cmd = argv[1];
    if (cmd == "headers" && argc == 5) {
        HWND w = pmFindWindow(argv[2], argv[3]);
        HWND list = w ? GetDlgItem(w, atoi(argv[4])) : nullptr;
        return list ? listHeaders(list) : 1;
    }
    if (cmd == "move" && argc == 7) {
        // CLASS X Y WIDTH HEIGHT, in screen coordinates.
        HWND w = pmFindWindow(argv[2], "-");
        if (!w)
            return 1;
        return SetWindowPos(w, nullptr, atoi(argv[3]), atoi(argv[4]), atoi(argv[5]), atoi(argv[6]),
                            SWP_NOZORDER | SWP_NOACTIVATE) ? 0 : 1;
    }
    if (cmd == "row-colour" && argc == 6) {
        HWND w = pmFindWindow(argv[2], argv[3]);
        HWND list = w ? GetDlgItem(w, atoi(argv[4])) : nullptr;
        return list ? rowColour(list, atoi(argv[5])) : 1;
    }
    if (cmd == "column-width" && argc == 7) {
        // CLASS TITLE ID COLUMN WIDTH: as a drag of the column's divider would leave it.
        HWND w = pmFindWindow(argv[2], argv[3]);
        HWND list = w ? GetDlgItem(w, atoi(argv[4])) : nullptr;
        return list && SendMessageA(list, LVM_SETCOLUMNWIDTH, atoi(argv[5]), MAKELPARAM(atoi(argv[6]), 0)) ? 0 : 1;
    }
    if (cmd == "syscolor" && argc == 3) {
        // A system colour (COLOR_WINDOW 5, COLOR_HIGHLIGHT 13) as RRGGBB.
        COLORREF c = GetSysColor(atoi(argv[2]));
        printf("%02X%02X%02X\n", GetRValue(c), GetGValue(c), GetBValue(c));
        return 0;
    }
    if (cmd == "msgbox-icon" && argc == 3)
        return messageBoxIcon(atoi(argv[2]));
    return -1;
}
