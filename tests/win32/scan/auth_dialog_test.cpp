// The Authentication dialog: what it shows, what it lets the user type and
// what it leaves in the credentials. No network involved.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "mgmt/auth_dialog_win.h"
#include "mgmt/credentials.h"
#include "mgmt/device_table.h"
#include "mgmt/mgmt_ids.h"
#include "mgmt/scan_dialog_win.h"
#include "tests/win32/support/win32_test.h"

namespace {

std::string text(HWND dialog, int id)
{
    char buffer[128] = "";
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

// Types `characters` into a field the way the keyboard does.
void type(HWND dialog, int id, const std::string& characters)
{
    HWND field = GetDlgItem(dialog, id);
    for (char c : characters)
        SendMessageA(field, WM_CHAR, (WPARAM)(unsigned char)c, 1);
}

struct AuthDialogTest : ::testing::Test {
    const uint8_t serial[12] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L'};
    void SetUp() override
    {
        strcpy(deviceUserName, "tolmo");
        strcpy(devicePassword, "tolmo");
    }
    void TearDown() override
    {
        strcpy(deviceUserName, "tolmo");
        strcpy(devicePassword, "tolmo");
    }
};

}  // namespace

TEST_F(AuthDialogTest, ShowsTheWholeSerialNumberAndEmptyLimitedFields)
{
    std::string title, sn, user, password;
    LRESULT userLimit = 0, passwordLimit = 0;
    LONG snStyle = 0, passwordStyle = 0;
    bool clientRight = false, everyControlPlaced = true;
    std::string misplaced;
    DialogWatcher watcher;
    watcher.onDialog = [&](HWND d) {
        char buffer[64] = "";
        GetWindowTextA(d, buffer, sizeof buffer);
        title = buffer;
        sn = text(d, IDC_AUTH_SN);
        user = text(d, IDC_AUTH_USER);
        password = text(d, IDC_AUTH_PASSWORD);
        userLimit = SendDlgItemMessageA(d, IDC_AUTH_USER, EM_GETLIMITTEXT, 0, 0);
        passwordLimit = SendDlgItemMessageA(d, IDC_AUTH_PASSWORD, EM_GETLIMITTEXT, 0, 0);
        snStyle = GetWindowLongA(GetDlgItem(d, IDC_AUTH_SN), GWL_STYLE);
        passwordStyle = GetWindowLongA(GetDlgItem(d, IDC_AUTH_PASSWORD), GWL_STYLE);
        RECT want = {0, 0, 155, 120}, client;
        MapDialogRect(d, &want);
        GetClientRect(d, &client);
        clientRight = client.right == want.right && client.bottom == want.bottom;
        struct { int id; RECT at; const char* caption; } controls[] = {
            {IDC_AUTH_SN_LABEL, {10, 16, 43, 11}, "SN"},
            {IDC_AUTH_SN, {53, 12, 94, 16}, nullptr},
            {IDC_AUTH_USER_LABEL, {10, 40, 43, 12}, "User name"},
            {IDC_AUTH_USER, {53, 36, 94, 18}, nullptr},
            {IDC_AUTH_PASSWORD_LABEL, {10, 68, 43, 12}, "Password"},
            {IDC_AUTH_PASSWORD, {53, 63, 93, 18}, nullptr},
            {IDOK, {32, 94, 35, 18}, "OK"},
            {IDCANCEL, {88, 94, 36, 18}, "Cancel"},
        };
        for (auto& c : controls) {
            RECT off = placedOff(d, c.id, c.at);
            if (off.left || off.top || off.right || off.bottom || (c.caption && text(d, c.id) != c.caption)) {
                everyControlPlaced = false;
                misplaced += std::to_string(c.id) + " ";
            }
        }
        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
    };
    EXPECT_EQ(IDCANCEL, openAuthenticationDialog(nullptr, serial));

    EXPECT_EQ("Authentication", title);
    EXPECT_EQ("ABCDEFGHIJKL", sn);
    EXPECT_EQ("", user);
    EXPECT_EQ("", password);
    EXPECT_EQ(14, userLimit);
    EXPECT_EQ(14, passwordLimit);
    EXPECT_TRUE(snStyle & ES_READONLY);
    EXPECT_TRUE(passwordStyle & ES_PASSWORD);
    EXPECT_TRUE(clientRight);
    EXPECT_TRUE(everyControlPlaced) << "misplaced: " << misplaced;
}

TEST_F(AuthDialogTest, OkStoresWhatWasTypedWithinItsLimits)
{
    std::string typedUser;
    DialogWatcher watcher;
    watcher.onDialog = [&](HWND d) {
        // Typing stops at 14 characters.
        type(d, IDC_AUTH_USER, "abcdefghijklmnop");
        typedUser = text(d, IDC_AUTH_USER);
        type(d, IDC_AUTH_PASSWORD, "s3cret");
        PostMessageA(d, WM_COMMAND, IDOK, 0);
    };
    EXPECT_EQ(IDOK, openAuthenticationDialog(nullptr, serial));
    EXPECT_EQ("abcdefghijklmn", typedUser);
    EXPECT_STREQ("abcdefghijklmn", deviceUserName);
    EXPECT_STREQ("s3cret", devicePassword);
    // Nothing of the old credentials is left behind the new terminator.
    EXPECT_EQ(0, deviceUserName[15]);
    EXPECT_EQ(0, devicePassword[7]);
    EXPECT_EQ(0, devicePassword[10]);

    // Text put in by other means than typing is cut to 15 characters.
    watcher.onDialog = [&](HWND d) {
        SetDlgItemTextA(d, IDC_AUTH_USER, "0123456789abcdefXYZ");
        SetDlgItemTextA(d, IDC_AUTH_PASSWORD, "");
        PostMessageA(d, WM_COMMAND, IDOK, 0);
    };
    EXPECT_EQ(IDOK, openAuthenticationDialog(nullptr, serial));
    EXPECT_STREQ("0123456789abcde", deviceUserName);
    EXPECT_STREQ("", devicePassword);
}

TEST_F(AuthDialogTest, CancelAndTheCloseBoxEmptyBothCredentials)
{
    DialogWatcher watcher;
    watcher.onDialog = [&](HWND d) {
        type(d, IDC_AUTH_USER, "admin");
        type(d, IDC_AUTH_PASSWORD, "s3cret");
        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
    };
    EXPECT_EQ(IDCANCEL, openAuthenticationDialog(nullptr, serial));
    const char zeros[CREDENTIAL_SIZE] = {};
    EXPECT_EQ(0, memcmp(deviceUserName, zeros, CREDENTIAL_SIZE));
    EXPECT_EQ(0, memcmp(devicePassword, zeros, CREDENTIAL_SIZE));

    strcpy(deviceUserName, "tolmo");
    strcpy(devicePassword, "tolmo");
    watcher.onDialog = [&](HWND d) { PostMessageA(d, WM_CLOSE, 0, 0); };
    EXPECT_EQ(IDCANCEL, openAuthenticationDialog(nullptr, serial));
    EXPECT_EQ(0, memcmp(deviceUserName, zeros, CREDENTIAL_SIZE));
    EXPECT_EQ(0, memcmp(devicePassword, zeros, CREDENTIAL_SIZE));
}

TEST_F(AuthDialogTest, WithoutASerialShowsTheSelectedDevice)
{
    clearDeviceTable();
    DeviceRecord record = {};
    memcpy(record.serialNumber, "XYZ", 3);
    storeDeviceRecord(&record);
    memcpy(record.serialNumber, "ZZZZZZZZZZZZ", 12);
    storeDeviceRecord(&record);
    ASSERT_EQ(1, selectDevice(1));
    std::string sn;
    DialogWatcher watcher;
    watcher.onDialog = [&](HWND d) {
        sn = text(d, IDC_AUTH_SN);
        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
    };
    openAuthenticationDialog(nullptr, nullptr);
    EXPECT_EQ("ZZZZZZZZZZZZ", sn);

    // No stored device there: nothing to show, and nothing read past the table.
    EXPECT_EQ(0, selectDevice(MAX_DEVICES + 5));
    openAuthenticationDialog(nullptr, nullptr);
    EXPECT_EQ("", sn);
    clearDeviceTable();
    selectedDevice = -1;
}
