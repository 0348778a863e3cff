// Start-up in its fixed order and the message loop.
#include <winsock2.h>
#include <windows.h>

#include "app/app.h"
#include "app/settings.h"
#include "ports/host_control.h"
#include "res/resource.h"

HINSTANCE appInstance;
HWND mainWindow;
HWND portList;
int editedEntry = -1;
int monitoredEntry = -1;
char textScratch[TEXT_SCRATCH_SIZE];

ATOM registerMainWindowClass(HINSTANCE instance, const char* className)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PARLOMGR));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDC_PARLOMGR);
    wc.lpszClassName = className;
    wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALL));
    return RegisterClassExA(&wc);
}

int runManager(HINSTANCE instance, int showCommand)
{
    char title[100];
    char className[100];

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
    mainWindow = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, s.windowLeft, s.windowTop,
                                 s.windowWidth, s.windowHeight, nullptr, nullptr, instance, nullptr);
    if (!mainWindow)
        return 0;
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    HACCEL accelerators = LoadAcceleratorsA(instance, PARLOMGR_ACCEL_NAME);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorA(mainWindow, accelerators, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
