// pmauto's commands for the devices scenarios: typing into a field the way a
// keyboard does, recording what the shell was asked to open, and putting a
// device port's settings in place before the manager sees the device.
//
//   type CLASS TITLE ID TEXT        focus control ID of the window, type TEXT
//   record-args FILE ARG...         append the arguments, one line, to FILE
//   device-set-port ADDRESS SN USER PASS PORT HEX
//                                   write a port's 68-byte settings record to
//                                   the device at ADDRESS (unicast, port 8)
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mgmt/credentials.h"
#include "mgmt/device_records.h"
#include "mgmt/mgmt_build.h"
#include "tests/e2e/pmauto.h"

namespace {

// Gives the control the keyboard focus of its own thread and brings its
// window to the front; true when the control holds the focus afterwards.
bool focusControl(HWND control)
{
    HWND top = GetAncestor(control, GA_ROOT);
    DWORD target = GetWindowThreadProcessId(control, nullptr);
    DWORD self = GetCurrentThreadId();
    AttachThreadInput(self, target, TRUE);
    SetForegroundWindow(top);
    SetActiveWindow(top);
    SetFocus(control);
    bool focused = GetFocus() == control;
    AttachThreadInput(self, target, FALSE);
    Sleep(150);
    return focused;
}

void typeChar(wchar_t ch)
{
    INPUT in[2] = {};
    for (int i = 0; i < 2; i++) {
        in[i].type = INPUT_KEYBOARD;
        in[i].ki.wScan = ch;
        in[i].ki.dwFlags = KEYEVENTF_UNICODE | (i ? KEYEVENTF_KEYUP : 0);
    }
    SendInput(2, in, sizeof in[0]);
    Sleep(20);
}

int typeInto(HWND control, const char* text)
{
    bool focused = false;
    for (int attempt = 0; attempt < 3 && !focused; attempt++)
        focused = focusControl(control);
    if (!focused) {
        fprintf(stderr, "the control did not take the focus\n");
        return 1;
    }
    for (const char* p = text; *p; p++)
        typeChar((unsigned char)*p);
    Sleep(100);
    return 0;
}

// Appends the arguments, one line, to a file: stands in for a browser so a
// scenario can see what the shell was asked to open.
int recordArgs(int argc, char** argv)
{
    FILE* f = fopen(argv[2], "a");
    if (!f)
        return 1;
    for (int i = 3; i < argc; i++)
        fprintf(f, "%s%s", i > 3 ? " " : "", argv[i]);
    fprintf(f, "\n");
    fclose(f);
    return 0;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// ADDRESS SN USER PASS PORT HEX: one MGMT_SET_SERIAL_CONFIG sent straight to
// the device's own address (never to the group), then its status reply,
// waited for at most one second. Prints "status N"; exit 0 for status 0.
int setDevicePort(char** argv)
{
    const char* hex = argv[7];
    uint8_t command[1 + sizeof(SerialPortConfig)] = {};
    int port = atoi(argv[6]);
    if (strlen(hex) != 2 * sizeof(SerialPortConfig) || port < 1 || port > 32)
        return 2;
    command[0] = (uint8_t)port;
    for (size_t i = 0; i < sizeof(SerialPortConfig); i++) {
        int hi = hexValue(hex[2 * i]), lo = hexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return 2;
        command[1 + i] = (uint8_t)(hi * 16 + lo);
    }
    DeviceRecord target = {};
    size_t snLength = strlen(argv[3]);
    memcpy(target.serialNumber, argv[3], snLength < 12 ? snLength : 12);
    snprintf(deviceUserName, CREDENTIAL_SIZE, "%s", argv[4]);
    snprintf(devicePassword, CREDENTIAL_SIZE, "%s", argv[5]);
    uint8_t datagram[1024];
    int length = buildAuthenticatedRequest(datagram, sizeof datagram, 20, &target, command, sizeof command);
    if (!length)
        return 2;

    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return 1;
    DWORD timeout = 1000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof timeout);
    sockaddr_in device = {};
    device.sin_family = AF_INET;
    device.sin_addr.s_addr = inet_addr(argv[2]);
    device.sin_port = htons(8);
    sendto(s, (const char*)datagram, length, 0, (const sockaddr*)&device, sizeof device);
    int result = 1;
    DWORD end = GetTickCount() + 1000;
    while ((LONG)(end - GetTickCount()) > 0) {
        uint8_t reply[1024];
        int got = recv(s, (char*)reply, sizeof reply, 0);
        if (got < 0)
            break;
        if (got < 24 || reply[0] != 255 || reply[1] != 0 || memcmp(reply + 8, target.serialNumber, 12) != 0)
            continue;
        uint32_t status;
        memcpy(&status, reply + 20, 4);
        printf("status %u\n", status);
        result = status == 0 ? 0 : 1;
        break;
    }
    closesocket(s);
    return result;
}

}  // namespace

int pmDeviceCommand(int argc, char** argv)
{
    std::string cmd = argv[1];
    if (cmd == "type" && argc == 6) {
        HWND w = pmFindWindow(argv[2], argv[3]);
        HWND c = w ? GetDlgItem(w, atoi(argv[4])) : nullptr;
        return c ? typeInto(c, argv[5]) : 1;
    }
    if (cmd == "record-args" && argc >= 3)
        return recordArgs(argc, argv);
    if (cmd == "device-set-port" && argc == 8)
        return setDevicePort(argv);
    return -1;
}
