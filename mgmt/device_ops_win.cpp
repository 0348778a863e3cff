// Reboot, network settings, serial-port query and serial-port write, with their messages.
#include "mgmt/device_ops_win.h"

#include <cstdio>
#include <cstring>

#include "mgmt/auth_dialog_win.h"
#include "mgmt/device_command_win.h"
#include "mgmt/device_table.h"
#include "mgmt/mgmt_packet.h"
#include "mgmt/scan_dialog_win.h"
#include "res/resource.h"
#include "ui/ui_thread.h"

SerialPortConfig PortConfigTable[MAX_DEVICE_PORTS];
int portConfigCount;
int selectedPort;

namespace {

struct AuthContext {
    HWND owner;
    const DeviceRecord* target;
};

int askForCredentials(void* context)
{
    AuthContext* c = (AuthContext*)context;
    return openAuthenticationDialog(c->owner, c->target->serialNumber) == IDOK;
}

// A copy of the selected device's record, so a scan that starts meanwhile
// cannot change the target between a request and its retry. 1 with the
// copy; 0 when `device` is not the selected one (nothing is sent, nothing
// said); -1 when the selected device has left the table since it was picked.
int copyDevice(int device, DeviceRecord* target)
{
    if (device < 0 || device != selectedDevice)
        return 0;
    return copySelectedDevice(target);
}

void showFailure(HWND owner, const char* text)
{
    MessageBoxA(owner, text, nullptr, MB_OK);
}

void showStringFailure(HWND owner, UINT id)
{
    char text[256] = "";
    HINSTANCE instance = appResources();
    LoadStringA(instance, id, text, sizeof text);
    showFailure(owner, text);
}

// Runs one command; returns its COMMAND_* result, with the last receive
// outcome in *outcome.
int runCommand(HWND owner, const DeviceRecord* target, uint16_t code, const uint8_t* bytes, int length,
               int receiver, int* outcome)
{
    MgmtCommand command = {code, target, bytes, length, receiver, nullptr, 0, nullptr};
    if (receiver == RECEIVE_CONFIG) {
        command.configs = PortConfigTable;
        command.configCapacity = MAX_DEVICE_PORTS;
        command.configCount = &portConfigCount;
    }
    AuthContext auth = {owner, target};
    MgmtCommandResult result;
    runMgmtCommand(&command, askForCredentials, &auth, &result);
    *outcome = result.outcome;
    return result.result;
}

}  // namespace

void rebootDevice(HWND owner, int device)
{
    DeviceRecord target;
    int found = copyDevice(device, &target);
    if (found < 0)
        showStringFailure(owner, IDS_REBOOT_FAILED);
    if (found <= 0)
        return;
    const uint8_t argument = 1;
    int outcome;
    if (runCommand(owner, &target, MGMT_REBOOT, &argument, 1, RECEIVE_STATUS, &outcome) == COMMAND_FAILED)
        showStringFailure(owner, IDS_REBOOT_FAILED);
}

void setDeviceNetwork(HWND owner, int device, const NetworkConfig* config)
{
    DeviceRecord target;
    int found = copyDevice(device, &target);
    if (found < 0)
        showStringFailure(owner, IDS_NETWORK_FAILED);
    if (found <= 0)
        return;
    // The bytes after the address mode are not the manager's to set: sent as zero.
    NetworkConfig settings = *config;
    memset(settings.reserved, 0, sizeof settings.reserved);
    int outcome;
    if (runCommand(owner, &target, MGMT_SET_NETWORK, (const uint8_t*)&settings, (int)sizeof settings,
                   RECEIVE_STATUS, &outcome) == COMMAND_FAILED)
        showStringFailure(owner, IDS_NETWORK_FAILED);
}

int getSerialPortConfigs(HWND owner, int device, uint8_t argument)
{
    DeviceRecord target;
    int found = copyDevice(device, &target);
    if (found == 0)
        return 0;
    // The table is cleared only once the socket is open (runDeviceCommand).
    int outcome = MGMT_OUTCOME_OTHER_DEVICE;  // the picked device has gone
    int result = found < 0 ? COMMAND_FAILED
                           : runCommand(owner, &target, MGMT_GET_SERIAL_CONFIG, &argument, 1, RECEIVE_CONFIG,
                                        &outcome);
    if (result == COMMAND_FAILED) {
        char text[96];
        snprintf(text, sizeof text, "Failed to get serial port configurations, error = %d .", outcome);
        showFailure(owner, text);
    }
    return result == COMMAND_DONE;
}

int setSerialPortConfig(HWND owner, const SerialPortConfig* config)
{
    DeviceRecord target;
    if (selectedPort < 0 || selectedPort >= MAX_DEVICE_PORTS)
        return 0;
    int found = copyDevice(selectedDevice, &target);
    if (found < 0)
        showFailure(owner, "Failed to configure serial port!");
    if (found <= 0)
        return 0;
    uint8_t bytes[1 + sizeof(SerialPortConfig)];
    bytes[0] = (uint8_t)(selectedPort + 1);
    memcpy(bytes + 1, config, sizeof *config);
    int outcome;
    int result = runCommand(owner, &target, MGMT_SET_SERIAL_CONFIG, bytes, (int)sizeof bytes, RECEIVE_STATUS,
                            &outcome);
    if (result == COMMAND_FAILED)
        showFailure(owner, "Failed to configure serial port!");
    return result == COMMAND_DONE;
}
