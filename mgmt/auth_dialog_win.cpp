// Authentication dialog: shows the device's serial number and takes new credentials.
#include "mgmt/auth_dialog_win.h"

#include <cstring>

#include "mgmt/credentials.h"
#include "mgmt/device_table.h"
#include "mgmt/mgmt_ids.h"
#include "mgmt/scan_dialog_win.h"
#include "res/resource.h"
#include "ui/ui_thread.h"

enum { AUTH_FIELD_LIMIT = 14 };

static void showSerialNumber(HWND dialog, const uint8_t* serialNumber)
{
    DeviceRecord shown = {};
    if (serialNumber)
        memcpy(shown.serialNumber, serialNumber, sizeof shown.serialNumber);
    else
        copySelectedDevice(&shown);
    char text[DEVICE_SERIAL_TEXT];
    deviceSerialText(&shown, text);
    SetDlgItemTextA(dialog, IDC_AUTH_SN, text);
}

// Whatever way the dialog ends, the old credentials are gone; only OK puts
// new ones in their place.
static void closeDialog(HWND dialog, int result)
{
    memset(deviceUserName, 0, sizeof deviceUserName);
    memset(devicePassword, 0, sizeof devicePassword);
    if (result == IDOK) {
        GetDlgItemTextA(dialog, IDC_AUTH_USER, deviceUserName, CREDENTIAL_SIZE);
        GetDlgItemTextA(dialog, IDC_AUTH_PASSWORD, devicePassword, CREDENTIAL_SIZE);
        deviceUserName[CREDENTIAL_SIZE - 1] = '\0';
        devicePassword[CREDENTIAL_SIZE - 1] = '\0';
    }
    EndDialog(dialog, result);
}

INT_PTR CALLBACK authDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        showSerialNumber(dialog, (const uint8_t*)lParam);
        SetDlgItemTextA(dialog, IDC_AUTH_USER, "");
        SetDlgItemTextA(dialog, IDC_AUTH_PASSWORD, "");
        SendDlgItemMessageA(dialog, IDC_AUTH_USER, EM_LIMITTEXT, AUTH_FIELD_LIMIT, 0);
        SendDlgItemMessageA(dialog, IDC_AUTH_PASSWORD, EM_LIMITTEXT, AUTH_FIELD_LIMIT, 0);
        // Typing starts in the user name, not in the read-only serial number.
        SetFocus(GetDlgItem(dialog, IDC_AUTH_USER));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            closeDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR openAuthenticationDialog(HWND owner, const uint8_t* serialNumber)
{
    HINSTANCE instance = appResources();
    INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_AUTHENTICATION), owner, authDialogProc,
                                     (LPARAM)serialNumber);
    return result == IDOK ? IDOK : IDCANCEL;
}
