// Start-up in its fixed order and the message loop.
#include <winsock2.h>
#include <windows.h>

#include "app/app.h"
#include "app/common_controls.h"
#include "app/settings.h"
#include "ports/host_control.h"
#include "res/resource.h"
#include "ui/dpi_win.h"

HWND mainWindow;
HWND portList;

ATOM registerMainWindowClass(HINSTANCE instance, const char* className)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = programIconAt(instance, IDI_PARLOMGR, true, systemDpi());
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDC_PARLOMGR);
    wc.lpszClassName = className;
    wc.hIconSm = programIconAt(instance, IDI_SMALL, false, systemDpi());
    return RegisterClassExA(&wc);
}

// Scan Devices carries command 0, and so does every menu separator. The
// system's accelerator handling looks the command up in the menus, meets a
// separator (always disabled) first and swallows the key without a command.
// Keys of the table whose command is 0 are therefore sent here.
static bool sendCommandZeroAccelerator(HACCEL table, const MSG* msg)
{
    if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)
        return false;
    ACCEL keys[16];
    int count = CopyAcceleratorTableA(table, keys, 16);
    bool control = GetKeyState(VK_CONTROL) < 0;
    bool shift = GetKeyState(VK_SHIFT) < 0;
    bool alt = GetKeyState(VK_MENU) < 0;
    for (int i = 0; i < count && i < 16; i++) {
        const ACCEL& k = keys[i];
        if (k.cmd != 0 || !(k.fVirt & FVIRTKEY) || k.key != msg->wParam)
            continue;
        if (control != !!(k.fVirt & FCONTROL) || shift != !!(k.fVirt & FSHIFT) || alt != !!(k.fVirt & FALT))
            continue;
        SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(0, 1), 0);
        return true;
    }
    return false;
}

// The window is made before its DPI is known, at the system's; on a display
// of another DPI it is placed again at that display's.
static void placeAtOwnDpi(HWND window, int madeAt)
{
    const int dpi = windowDpi(window);
    if (dpi == madeAt)
        return;
    const WindowSettings& s = windowSettings;
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (s.windowLeft == SETTINGS_DEFAULT_PLACEMENT || s.windowTop == SETTINGS_DEFAULT_PLACEMENT)
        flags |= SWP_NOMOVE;
    if (s.windowWidth == SETTINGS_DEFAULT_PLACEMENT || s.windowHeight == SETTINGS_DEFAULT_PLACEMENT)
        flags |= SWP_NOSIZE;
    if ((flags & SWP_NOMOVE) && (flags & SWP_NOSIZE))
        return;
    SetWindowPos(window, nullptr, placementToDpi(s.windowLeft, dpi), placementToDpi(s.windowTop, dpi),
                 placementToDpi(s.windowWidth, dpi), placementToDpi(s.windowHeight, dpi), flags);
}

int runManager(HINSTANCE instance, int showCommand)
{
    char title[100];
    char className[100];

    INITCOMMONCONTROLSEX controls = {sizeof controls, COMMON_CONTROL_CLASSES};
    InitCommonControlsEx(&controls);
    bindDriverLibrary();
    LoadStringA(instance, IDS_APP_TITLE, title, sizeof title);
    LoadStringA(instance, IDS_WINDOW_CLASS, className, sizeof className);
    registerMainWindowClass(instance, className);

    if (!startHostAndMapTable()) {
        MessageBoxA(nullptr, "Failed to install ParloHost!", nullptr, MB_OK);
        return 0;
    }

    WSADATA wsa;
    WSAStartup(MAKEWORD(1, 1), &wsa);
    loadSettings();
    appInstance = instance;

    const WindowSettings& s = windowSettings;
    const int dpi = systemDpi();
    mainWindow = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, placementToDpi(s.windowLeft, dpi),
                                 placementToDpi(s.windowTop, dpi), placementToDpi(s.windowWidth, dpi),
                                 placementToDpi(s.windowHeight, dpi), nullptr, nullptr, instance, nullptr);
    if (!mainWindow)
        return 0;
    placeAtOwnDpi(mainWindow, dpi);
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    HACCEL accelerators = LoadAcceleratorsA(instance, PARLOMGR_ACCEL_NAME);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (sendCommandZeroAccelerator(accelerators, &msg) || TranslateAcceleratorA(mainWindow, accelerators, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
