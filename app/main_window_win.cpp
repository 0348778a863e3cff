// The main window: its creation, timer, list drawing, About and the close sequence.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include "app/app.h"
#include "app/port_list.h"
#include "app/settings.h"
#include "ports/config_file.h"
#include "ports/port_table_win.h"
#include "res/resource.h"
#include "ui/dpi_win.h"
#include "ui/list_paint_win.h"

// The caption and task bar show the icon drawn for the window's DPI.
static void showIconsAt(HWND window, int dpi)
{
    if (HICON big = programIconAt(appResources(), IDI_PARLOMGR, true, dpi))
        SendMessageA(window, WM_SETICON, ICON_BIG, (LPARAM)big);
    if (HICON small = programIconAt(appResources(), IDI_SMALL, false, dpi))
        SendMessageA(window, WM_SETICON, ICON_SMALL, (LPARAM)small);
}

static void onCreate(HWND window)
{
    // The class's icons are those of the system's DPI.
    const int dpi = windowDpi(window);
    if (dpi != systemDpi())
        showIconsAt(window, dpi);
    portList = createPortList(window);
    if (!portList)
        MessageBoxA(nullptr, "List not created!", nullptr, MB_OK);
    refreshPortList(portList);
    SetTimer(window, MAIN_TIMER_ID, MAIN_TIMER_PERIOD_MS, nullptr);
}

// The window moved to a display of another DPI: it takes the place the system
// suggests, and the list's columns, text and rows follow the new DPI.
static void followDpi(HWND window, int dpi, const RECT* suggested)
{
    if (!dpi)
        return;
    const int old = windowDpi(window);
    setWindowDpi(window, dpi);
    if (portList) {
        rescaleListColumns(portList, &windowSettings.columnWidths[MAIN_LIST_WIDTH_SLOT], MAIN_LIST_COLUMNS, old, dpi);
        if (HFONT text = listTextFontAt(dpi))
            SendMessageA(portList, WM_SETFONT, (WPARAM)text, FALSE);
    }
    showIconsAt(window, dpi);
    if (suggested)
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (portList)
        remeasureListRows(portList);
}

// Settings, configuration file, table, sockets, then the window itself, all in
// this one handler so no timer tick can run against the unmapped table.
static LRESULT onClose(HWND window)
{
    saveSettings(window, portList);
    writeConfigFile();
    unmapPortTable();
    WSACleanup();
    return DefWindowProcA(window, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        onCreate(window);
        return 0;
    case WM_TIMER:
        refreshPortList(portList);
        return 0;
    case WM_SIZE:
        if (portList) {
            MoveWindow(portList, 0, 0, LOWORD(lParam), HIWORD(lParam), FALSE);
            InvalidateRect(portList, nullptr, TRUE);
        }
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(window, &ps);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_MEASUREITEM: {
        MEASUREITEMSTRUCT* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (measure->CtlType != ODT_LISTVIEW)
            break;
        if (const int height = listRowHeight(window))
            measure->itemHeight = height;
        return TRUE;
    }
    case WM_DRAWITEM:
        drawListRow(portList, reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), MAIN_LIST_COLUMNS);
        return TRUE;
    case WM_NOTIFY:
        answerPortListCell(reinterpret_cast<NMHDR*>(lParam));
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_ABOUT:
            DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUTBOX), window, aboutDialogProc, 0);
            return 0;
        case IDM_EXIT:
            SendMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        default:
            if (handleMainCommand(window, LOWORD(wParam)))
                return 0;
            break;
        }
        break;
    case WM_CLOSE:
        return onClose(window);
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_DPICHANGED:
        followDpi(window, dpiOfMessage(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_NCDESTROY:
        forgetWindowDpi(window);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}
