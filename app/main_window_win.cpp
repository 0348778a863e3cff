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
#include "ui/list_paint_win.h"

static void onCreate(HWND window)
{
    portList = createPortList(window);
    if (!portList)
        MessageBoxA(nullptr, "List not created!", nullptr, MB_OK);
    refreshPortList(portList);
    SetTimer(window, MAIN_TIMER_ID, MAIN_TIMER_PERIOD_MS, nullptr);
}

static void measureListRow(HWND window, MEASUREITEMSTRUCT* measure)
{
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, listFont);
    TEXTMETRICA tm;
    if (GetTextMetricsA(dc, &tm))
        measure->itemHeight = tm.tmHeight + 1;
    SelectObject(dc, old);
    ReleaseDC(window, dc);
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
        measureListRow(window, measure);
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
