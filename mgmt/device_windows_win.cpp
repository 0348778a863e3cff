// Opening the Network Configurations and Configure Device windows, when the
// executable carries their templates.
#include "mgmt/device_windows_win.h"

#include "devcfg/devcfg_win.h"
#include "res/resource.h"
#include "ui/ui_thread.h"

INT_PTR (*showNetworkConfig)(HWND owner) = openNetworkConfigDialog;
INT_PTR (*showConfigureDevice)(HWND owner) = openConfigureDeviceDialog;

static bool hasTemplate(int id)
{
    HINSTANCE instance = appResources();
    return FindResourceA(instance, MAKEINTRESOURCEA(id), (LPCSTR)RT_DIALOG) != nullptr;
}

INT_PTR openNetworkConfigDialog(HWND owner)
{
    if (!hasTemplate(IDD_NETWORK_CONFIG))
        return 0;
    return DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_NETWORK_CONFIG), owner, networkConfigDialogProc, 0);
}

INT_PTR openConfigureDeviceDialog(HWND owner)
{
    if (!hasTemplate(IDD_CONFIGURE_DEVICE))
        return 0;
    return DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_CONFIGURE_DEVICE), owner, configureDeviceDialogProc,
                           0);
}
