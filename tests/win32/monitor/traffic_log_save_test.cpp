// Save: the system's save-file dialog, then the log of the rows the Monitor shows.
#include "tests/win32/monitor/monitor_test_support.h"

#include <fstream>
#include <sstream>

#include "monitor/traffic_log_win.h"

using namespace monitor_test;

namespace {

const int FILE_NAME_EDIT = 0x480;    // edt1
const int FILE_NAME_COMBO = 0x47C;   // cmb13, the newer dialogs' name box
const int FILE_TYPE_COMBO = 0x470;   // cmb1
const int READ_ONLY_BOX = 0x410;     // chx1

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string currentDirectory()
{
    char dir[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof dir, dir);
    return dir;
}

// What the user sees and does in the save dialog: noted, then the name typed and OK pressed.
struct SaveDialogSeen {
    std::string title;
    std::string fileType;
    bool readOnlyBoxShown = true;
};

std::function<void(HWND)> typeFileName(const std::string& name, SaveDialogSeen* seen,
                                       int fileType = 0)
{
    return [name, seen, fileType](HWND d) {
        char text[128] = "";
        GetWindowTextA(d, text, sizeof text);
        seen->title = text;
        HWND types = GetDlgItem(d, FILE_TYPE_COMBO);
        const int chosen = (int)SendMessageA(types, CB_GETCURSEL, 0, 0);
        text[0] = '\0';
        if (chosen >= 0)
            SendMessageA(types, CB_GETLBTEXT, chosen, (LPARAM)text);
        seen->fileType = text;
        if (fileType != chosen) {
            SendMessageA(types, CB_SETCURSEL, fileType, 0);
            SendMessageA(d, WM_COMMAND, MAKEWPARAM(FILE_TYPE_COMBO, CBN_SELENDOK), (LPARAM)types);
        }
        HWND readOnly = GetDlgItem(d, READ_ONLY_BOX);
        seen->readOnlyBoxShown = readOnly && IsWindowVisible(readOnly);
        HWND field = GetDlgItem(d, FILE_NAME_EDIT);
        if (!field)
            field = GetDlgItem(d, FILE_NAME_COMBO);
        SetWindowTextA(field, name.c_str());
        PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(d, IDOK));
    };
}

struct SaveTest : MonitorTest {
    std::string folder, elsewhere, startDirectory;
    void SetUp() override
    {
        MonitorTest::SetUp();
        folder = makeTempFolder("monlog");
        elsewhere = makeTempFolder("moncwd");
        startDirectory = currentDirectory();
        SetCurrentDirectoryA(elsewhere.c_str());
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(startDirectory.c_str());
        removeFolder(folder);
        removeFolder(elsewhere);
        MonitorTest::TearDown();
    }
};

}  // namespace

TEST_F(SaveTest, NothingShownOpensNoDialog)
{
    entry()->captureActive = 1;
    MonitorRun run;
    int result = -1;
    run.body = [&result](HWND d) {
        SendMessageA(d, WM_COMMAND, IDC_MONITOR_SAVE, 0);
        result = saveTrafficLog(d);
    };
    runMonitor(run);
    EXPECT_TRUE(run.bodyRan);
    EXPECT_EQ(0, result);
    EXPECT_TRUE(run.otherDialogs.empty());
}

// The ring did not start at slot 0 and an empty slot was passed over; the
// log still holds exactly the rows shown, numbered as shown.
TEST_F(SaveTest, WritesTheShownRecordsThroughTheSaveDialog)
{
    entry()->captureReadIndex = 1021;
    entry()->captureWriteIndex = 1021;
    hostWrite(0, bytes("first"), 500);
    hostWrite(0, {});
    hostWrite(1, bytes("second"), 1250);
    hostWrite(0, bytes("third"), 2000);
    entry()->captureActive = 1;

    const std::string log = folder + "\\traffic.log";
    SaveDialogSeen seen;
    MonitorRun run;
    run.onOtherDialog = typeFileName(folder + "\\traffic", &seen);
    run.body = [](HWND d) {
        ASSERT_TRUE(drained());
        SendMessageA(d, WM_COMMAND, IDC_MONITOR_SAVE, 0);
    };
    runMonitor(run);
    ASSERT_TRUE(run.bodyRan);
    ASSERT_EQ(1u, run.otherDialogs.size());
    EXPECT_EQ("Save File ...", seen.title);
    EXPECT_EQ("Traffic log (*.log)", seen.fileType);
    EXPECT_FALSE(seen.readOnlyBoxShown);
    EXPECT_EQ(elsewhere, currentDirectory());

    const std::string expected =
        "00000  0.500000  tx  005\r\n\tHEX:\r\n            66 69 72 73 74 \r\n"
        "\tASCII:\r\n            first\r\n\r\n"
        "00001  1.250000  rx  006\r\n\tHEX:\r\n            73 65 63 6f 6e 64 \r\n"
        "\tASCII:\r\n            second\r\n\r\n"
        "00002  2.000000  tx  005\r\n\tHEX:\r\n            74 68 69 72 64 \r\n"
        "\tASCII:\r\n            third\r\n\r\n";
    ASSERT_TRUE(exists(log)) << "the typed name gets the .log extension";
    EXPECT_EQ(expected, readFile(log));
}

TEST_F(SaveTest, CancelWritesNothingAndOverwriteAsksFirst)
{
    hostWrite(1, bytes("one"), 1000);
    entry()->captureActive = 1;
    const std::string log = folder + "\\capture.log";

    // Cancelled: no file, result 0.
    MonitorRun cancelled;
    int result = -1;
    cancelled.body = [&result](HWND d) {
        ASSERT_TRUE(drained());
        result = saveTrafficLog(d);
    };
    runMonitor(cancelled);
    EXPECT_EQ(0, result);
    EXPECT_EQ(1u, cancelled.otherDialogs.size());
    EXPECT_FALSE(exists(log));

    // An earlier file is replaced only after the user agreed.
    {
        std::ofstream old(log, std::ios::binary);
        old << "an older and much longer log that must not survive the save";
    }
    entry()->captureReadIndex = 0;
    SaveDialogSeen seen;
    MonitorRun replaced;
    replaced.onOtherDialog = typeFileName(log, &seen);
    replaced.body = [&result](HWND d) {
        ASSERT_TRUE(drained());
        result = saveTrafficLog(d);
    };
    runMonitor(replaced, IDYES);
    EXPECT_EQ(1, result);
    EXPECT_EQ(1u, replaced.boxes.size());
    EXPECT_EQ("00000  1.000000  rx  003\r\n\tHEX:\r\n            6f 6e 65 \r\n"
              "\tASCII:\r\n            one\r\n\r\n",
              readFile(log));
}

// "All (*.*)" with no extension typed: the default extension must still give
// a name a file can have, and an existing file is replaced only when agreed.
TEST_F(SaveTest, AllFilesTypeStillSavesAsLog)
{
    hostWrite(0, bytes("AT"), 3000);
    entry()->captureActive = 1;
    const std::string log = folder + "\\plain.log";
    const std::string expected =
        "00000  3.000000  tx  002\r\n\tHEX:\r\n            41 54 \r\n\tASCII:\r\n            AT\r\n\r\n";

    for (int answer : {IDYES, IDNO}) {
        if (answer == IDNO) {
            std::ofstream old(log, std::ios::binary);
            old << "kept";
        }
        entry()->captureReadIndex = 0;
        SaveDialogSeen seen;
        MonitorRun run;
        int result = -1;
        run.onOtherDialog = typeFileName(folder + "\\plain", &seen, 1);
        run.body = [&result](HWND d) {
            ASSERT_TRUE(drained());
            result = saveTrafficLog(d);
        };
        runMonitor(run, answer);
        if (answer == IDYES) {
            EXPECT_EQ(1, result);
            EXPECT_TRUE(run.boxes.empty());
            EXPECT_EQ(expected, readFile(log));
        } else {
            EXPECT_EQ(0, result);
            ASSERT_EQ(1u, run.boxes.size());
            EXPECT_EQ(log + " already exists.\nDo you want to replace it?", run.boxes[0].text);
            EXPECT_EQ("kept", readFile(log));
        }
    }
}
