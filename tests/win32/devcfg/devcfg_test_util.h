// The device configuration windows as the tests drive them: the real modal
// dialogs run by script on this thread, a stand-in port table, the devices
// of the lab and what they heard.
#pragma once

#include "tests/win32/createport/createport_test.h"
#include "tests/win32/scan/scan_test_util.h"

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "devcfg/devcfg_ids.h"
#include "devcfg/devcfg_win.h"
#include "mgmt/device_records.h"
#include "mgmt/device_windows_win.h"
#include "mgmt/mgmt_build.h"
#include "mgmt/mgmt_packet.h"
#include "ports/host_control.h"
#include "ports/port_checks.h"
#include "ports/port_table.h"
#include "ports/port_table_win.h"

#define NETWORK_TITLE "Network Configurations"
#define CONFIGURE_TITLE "Configure Device"
#define AUTO_TITLE "Automatically create serial port"
#define REBOOT_ADVICE "If configurations are changed, please reboot the device.\r\n     Rebooting takes about 6 seconds, reboot it?"

// ---- running things later, from whatever message loop is current ----

// Runs `then` once `ready` holds, polled every 20 ms by a thread timer, so
// it also runs inside modal dialogs and message boxes; after `ms` without
// it, runs `otherwise` (when given) instead.
void whenReady(std::function<bool()> ready, std::function<void()> then, DWORD ms = 10000,
               std::function<void()> otherwise = nullptr);
// Drops every job not run yet (their captures may not outlive a test).
void dropPendingJobs();
inline void later(DWORD ms, std::function<void()> then)
{
    DWORD start = GetTickCount();
    whenReady([start, ms] { return GetTickCount() - start >= ms; }, then, ms + 5000);
}

// ---- windows and controls ----

std::string titleOf(HWND window);
// The dialog's font face and its point size at the screen's resolution.
std::string fontFace(HWND dialog);
int fontPoints(HWND dialog);

std::vector<std::string> comboItems(HWND dialog, int id);
// The selected item's text, or "<none>".
std::string comboSelection(HWND dialog, int id);
// Height in pixels of the combo box's list when dropped down.
int droppedHeight(HWND dialog, int id);

// Sets an IP address control, as typing into its four fields would.
void setAddressControl(HWND dialog, int id, const char* dotted);

// The buttons of each message box that opens while this lives, in order.
class BoxButtons {
public:
    BoxButtons();
    ~BoxButtons();
    std::vector<std::vector<int>> seen;   // ids of the visible buttons of each box
};

// ---- what a device heard ----

// The bytes of a log line's payload field (after serial number and digest).
std::vector<uint8_t> logPayload(const std::string& line);
// The byte image of a record, for comparing what was sent.
template <typename T>
std::vector<uint8_t> bytesOf(const T& record)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&record);
    return std::vector<uint8_t>(p, p + sizeof record);
}
std::string hexOf(const std::vector<uint8_t>& bytes);

// ---- the fixture ----

// A lab test with the real device windows behind the scan window, a stand-in
// port table (no host), the driver library bound and an owner window.
class DevcfgLab : public LabTest {
protected:
    HWND owner = nullptr;
    std::vector<std::string> pairsToDelete;
    // No pair of this name is left from earlier runs, and none will be left by this test.
    void freshPair(const char* com)
    {
        deletePair(com);
        pairsToDelete.push_back(com);
    }
    void SetUp() override;
    void TearDown() override;
    // Runs a scan through a scan window of its own and checks the count.
    void scan(int expected);
    // Queries device 0's serial ports, as Device Settings does.
    void query(int expectedPorts);
    void clearLogs();
    std::vector<std::string> sent(int device, int code) { return lab->log(device, code); }
    // Opens the automatic creation dialog for `port` with `owner` as parent.
    INT_PTR openAutoCreate(int port);
};

// Acts as the host for entries the test expects: once an entry with this
// COM name is in use, marks it present, as the host does after it created
// the port. Bounded: gives up after `ms`.
class HostStandIn {
public:
    HostStandIn(const std::string& com, DWORD ms = 15000);
    ~HostStandIn();
    int entry() const { return entry_; }

private:
    std::thread thread_;
    volatile bool stop_ = false;
    volatile int entry_ = -1;
};

// Entry fields as text, within their widths.
inline std::string entryText(int index, char (PortEntry::*field)[32])
{
    const PortEntry& e = portTable->entries[index];
    return std::string(e.*field, strnlen(e.*field, sizeof(e.*field)));
}
inline std::string entryRemoteAddress(int index)
{
    const PortEntry& e = portTable->entries[index];
    return std::string(e.remoteAddress, strnlen(e.remoteAddress, sizeof e.remoteAddress));
}
