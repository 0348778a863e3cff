// The main port list against a stand-in table: rows, tags, cell texts, the
// pairing of rows with entries, and the commands that act on the marked row.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/port_list.h"
#include "ports/port_table.h"
#include "res/resource.h"
#include "tests/win32/support/win32_test.h"
#include "ui/cell_canvas_win.h"
#include "ui/dib_surface_win.h"

namespace {

struct Row {
    LPARAM tag;
    std::vector<std::string> cells;
};

std::vector<Row> readRows(HWND list)
{
    std::vector<Row> rows;
    int n = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    for (int r = 0; r < n; r++) {
        Row row;
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = r;
        SendMessageA(list, LVM_GETITEMA, 0, (LPARAM)&item);
        row.tag = item.lParam;
        for (int c = 0; c < 9; c++)
            row.cells.push_back(listCell(list, r, c));
        rows.push_back(row);
    }
    return rows;
}

void present(int index, const char* com, const char* protocol = "tcpc")
{
    std::string name = std::string("\\\\.\\NULL_") + com;
    writePortEntry(portTable, index, name.c_str(), "192.0.2.10", "4001", "enable", protocol, "6001");
    portTable->entries[index].present = 1;
}


struct PortListTest : ::testing::Test {
    std::string folder;
    void SetUp() override
    {
        removeHostService();
        ASSERT_TRUE(createStandInTable());
        folder = makeTempFolder("list");
        SetCurrentDirectoryA(folder.c_str());
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(programDirectory().c_str());
        removeFolder(folder);
        releaseStandInTable();
        removeHostService();
    }
};

}  // namespace

TEST_F(PortListTest, RowsTagsAndCellTexts)
{
    std::vector<Row> rows;
    std::vector<Row> afterClear;
    int code = runManagerWith([&](HWND w) {
        HWND list = GetDlgItem(w, IDC_PORT_LIST);
        EXPECT_EQ(0, SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) << "an empty table gives an empty list";
        present(0, "COM41");
        PortEntry* e0 = &portTable->entries[0];
        e0->comOpen = 1;
        e0->comBaudRate = 9600;
        e0->comDataBits = 8;
        e0->comParity = 3;  // mark: a blank
        e0->comStopBits = 0;
        e0->linkState = 5;  // not a known state: empty
        e0->rxBytes = 5000000000LL;
        e0->txBytes = 4294967297LL;
        present(3, "COM42", "udp");
        portTable->entries[3].linkState = 0;
        present(7, "COM43");
        storeField(portTable->entries[7].protocol, 32, "xyz");
        PortEntry* e7 = &portTable->entries[7];
        e7->comOpen = 1;
        e7->comBaudRate = 115200;
        e7->comDataBits = 7;
        e7->comParity = 2;
        e7->comStopBits = 1;
        e7->linkState = LINK_CONNECTED;
        EXPECT_TRUE(pumpTicks(w, 1));
        rows = readRows(list);
        // Clear Counters shows 0 on the next tick.
        selectListRow(list, 0);
        SendMessageA(w, WM_COMMAND, IDM_CLEAR_COUNTERS, 0);
        EXPECT_TRUE(pumpTicks(w, 1));
        afterClear = readRows(list);
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ(1, rows[0].tag);
    EXPECT_EQ(4, rows[1].tag);
    EXPECT_EQ(8, rows[2].tag);
    EXPECT_EQ((std::vector<std::string>{"COM41", "9600,8 1", "TCP Client", "192.0.2.10", "4001", "6001",
                                        "5000000000", "4294967297", ""}),
              rows[0].cells);
    EXPECT_EQ((std::vector<std::string>{"COM42", " ", "UDP", "192.0.2.10", "4001", "6001", "0", "0", " "}),
              rows[1].cells);
    EXPECT_EQ((std::vector<std::string>{"COM43", "115200,7E1.5", "TCP Client", "192.0.2.10", "4001", "6001", "0",
                                        "0", "Connected"}),
              rows[2].cells);
    ASSERT_EQ(3u, afterClear.size());
    EXPECT_EQ("0", afterClear[0].cells[6]);
    EXPECT_EQ("0", afterClear[0].cells[7]);
}

// The list's client area as pixels, read back from the screen.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned> pixels;
    bool operator==(const Picture& o) const { return width == o.width && pixels == o.pixels; }
};

Picture picture(HWND list)
{
    RECT client;
    GetClientRect(list, &client);
    Picture p;
    p.width = client.right;
    p.height = client.bottom;
    p.pixels.assign((size_t)p.width * p.height, 0);
    HDC screen = GetDC(list);
    DibSurface copy;
    if (makeDibSurface(&copy, p.width, p.height)) {
        BitBlt(copy.dc, 0, 0, p.width, p.height, screen, 0, 0, SRCCOPY);
        GdiFlush();
        memcpy(p.pixels.data(), copy.bits, p.pixels.size() * sizeof(unsigned));
        freeDibSurface(&copy);
    }
    ReleaseDC(list, screen);
    return p;
}

// The box around the pixels that differ; empty when none do.
RECT changedBox(const Picture& a, const Picture& b)
{
    RECT box = {a.width, a.height, 0, 0};
    for (int y = 0; y < a.height; y++)
        for (int x = 0; x < a.width; x++)
            if (a.pixels[(size_t)y * a.width + x] != b.pixels[(size_t)y * a.width + x]) {
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x + 1);
                box.bottom = std::max<LONG>(box.bottom, y + 1);
            }
    if (box.right == 0)
        box = {};
    return box;
}

RECT subItem(HWND list, int row, int column)
{
    RECT r = {};
    r.top = column;
    r.left = LVIR_BOUNDS;
    SendMessageA(list, LVM_GETSUBITEMRECT, row, (LPARAM)&r);
    return r;
}

bool inside(const RECT& inner, const RECT& outer)
{
    RECT both;
    return IsRectEmpty(&inner) || (IntersectRect(&both, &inner, &outer) && EqualRect(&both, &inner));
}

// A pass draws the cells whose texts changed and nothing else, at once and as
// the list's own paint would; a selected or focused row is left to that paint.
TEST_F(PortListTest, APassDrawsOnlyTheChangedCells)
{
    BOOL pendingWithout = TRUE, pendingPlain = TRUE, pendingMarked = FALSE;
    Picture before, unchanged, drawn, repainted, marked, afterPass, painted, markedRepainted;
    RECT cell = {}, marks = {}, plainSpan = {}, markedRow = {};
    unsigned long composedBefore = 0, composedAfter = 0;
    int code = runManagerWith([&](HWND w) {
        HWND list = GetDlgItem(w, IDC_PORT_LIST);
        present(0, "COM41");
        present(1, "COM42");
        present(2, "COM43");
        EXPECT_TRUE(pumpTicks(w, 1));
        UpdateWindow(list);
        before = picture(list);
        refreshPortList(list);
        pendingWithout = GetUpdateRect(list, nullptr, FALSE);
        unchanged = picture(list);

        portTable->entries[1].rxBytes += 5;
        composedBefore = cellCanvasComposedCells();
        refreshPortList(list);
        composedAfter = cellCanvasComposedCells();
        pendingPlain = GetUpdateRect(list, nullptr, FALSE);
        drawn = picture(list);
        cell = subItem(list, 1, 6);
        InvalidateRect(list, nullptr, TRUE);
        UpdateWindow(list);
        repainted = picture(list);

        // Row 0 selected and focused: its changed cell waits for the list's paint.
        LVITEMA state = {};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, 0, (LPARAM)&state);
        SetFocus(list);
        UpdateWindow(list);
        marked = picture(list);
        portTable->entries[0].txBytes += 5;
        portTable->entries[2].linkState = LINK_CONNECTED;
        refreshPortList(list);
        pendingMarked = GetUpdateRect(list, &marks, FALSE);
        afterPass = picture(list);
        const RECT spanFrom = subItem(list, 1, 7), spanTo = subItem(list, 2, 8);
        const RECT rowFrom = subItem(list, 0, 7), rowTo = subItem(list, 0, 8);
        UnionRect(&plainSpan, &spanFrom, &spanTo);
        UnionRect(&markedRow, &rowFrom, &rowTo);
        UpdateWindow(list);
        painted = picture(list);
        InvalidateRect(list, nullptr, TRUE);
        UpdateWindow(list);
        markedRepainted = picture(list);
        // What lies outside the client area (wide stored columns) is never drawn.
        RECT client;
        GetClientRect(list, &client);
        IntersectRect(&cell, &cell, &client);
        // Rows 1 and 2, and row 0, across the list: a list may put its cells
        // a little off the header's columns; the pictures pin down the rest.
        plainSpan.left = markedRow.left = client.left;
        plainSpan.right = markedRow.right = client.right;
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    EXPECT_FALSE(pendingWithout) << "a pass with nothing changed repaints nothing";
    EXPECT_TRUE(before == unchanged) << "a pass with nothing changed draws nothing";

    EXPECT_FALSE(pendingPlain) << "a plain row's changed cell is drawn at once, with no paint to come";
    RECT box = changedBox(unchanged, drawn);
    EXPECT_FALSE(IsRectEmpty(&box)) << "the new counter is on screen";
    EXPECT_TRUE(inside(box, cell)) << "one changed counter: its cell alone";
    EXPECT_TRUE(drawn == repainted) << "the cell drawn at once looks as the list's own paint draws it";
    EXPECT_LT(composedBefore, composedAfter) << "drawn from the character images";

    EXPECT_TRUE(pendingMarked) << "the selected row's changed cell is left to the list's paint";
    EXPECT_TRUE(inside(marks, markedRow)) << "row 0 alone";
    box = changedBox(marked, afterPass);
    EXPECT_FALSE(IsRectEmpty(&box));
    EXPECT_TRUE(inside(box, plainSpan)) << "rows 1 to 2 drawn at once";
    box = changedBox(afterPass, painted);
    EXPECT_FALSE(IsRectEmpty(&box));
    EXPECT_TRUE(inside(box, markedRow)) << "the paint then draws the selected row's cells";
    EXPECT_TRUE(painted == markedRepainted) << "together, what the list's own paint draws";
}

// A port created in a freed slot above existing rows gets its row at its place;
// an entry whose present the host cleared loses its row. One row per present
// entry, in table order, always.
TEST_F(PortListTest, RowsFollowTheTableWhenSlotsChange)
{
    std::vector<std::vector<LPARAM>> seen;
    std::vector<std::string> names;
    auto tags = [&](HWND list) {
        std::vector<LPARAM> t;
        for (const Row& r : readRows(list))
            t.push_back(r.tag);
        seen.push_back(t);
    };
    int code = runManagerWith([&](HWND w) {
        HWND list = GetDlgItem(w, IDC_PORT_LIST);
        present(2, "COM52");
        present(5, "COM55");
        EXPECT_TRUE(pumpTicks(w, 1));
        tags(list);
        present(0, "COM50");  // below both existing rows
        present(3, "COM53");  // between them
        EXPECT_TRUE(pumpTicks(w, 1));
        tags(list);
        portTable->entries[2].present = 0;  // the host dropped it
        EXPECT_TRUE(pumpTicks(w, 1));
        tags(list);
        portTable->entries[5].present = 0;  // the last row goes too
        EXPECT_TRUE(pumpTicks(w, 1));
        tags(list);
        // The freed slot 2 now holds another port: its row carries the new name.
        present(2, "COM60");
        EXPECT_TRUE(pumpTicks(w, 1));
        tags(list);
        for (const Row& r : readRows(list))
            names.push_back(r.cells[0]);
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    ASSERT_EQ(5u, seen.size());
    EXPECT_EQ((std::vector<LPARAM>{3, 6}), seen[0]);
    EXPECT_EQ((std::vector<LPARAM>{1, 3, 4, 6}), seen[1]);
    EXPECT_EQ((std::vector<LPARAM>{1, 4, 6}), seen[2]);
    EXPECT_EQ((std::vector<LPARAM>{1, 4}), seen[3]);
    EXPECT_EQ((std::vector<LPARAM>{1, 3, 4}), seen[4]);
    EXPECT_EQ((std::vector<std::string>{"COM50", "COM60", "COM53"}), names);
}

TEST_F(PortListTest, CommandsWithoutSelectionDoNothing)
{
    std::vector<char> before, after;
    size_t boxes = 99;
    int code = runManagerWith([&](HWND w) {
        present(0, "COM41");
        present(1, "COM42");
        portTable->entries[1].command = PORT_STOP;
        portTable->entries[0].rxBytes = 10;
        EXPECT_TRUE(pumpTicks(w, 1));
        before.assign((char*)portTable, (char*)&portTable->entries[2]);
        DialogWatcher watcher;
        for (int cmd : {IDM_DELETE, IDM_START_CONNECTION, IDM_STOP_CONNECTION, IDM_RESTART_CONNECTION,
                        IDM_CLEAR_COUNTERS, IDM_MONITOR_COM})
            SendMessageA(w, WM_COMMAND, cmd, 0);
        pumpMessages(200);
        boxes = watcher.boxes.size();
        after.assign((char*)portTable, (char*)&portTable->entries[2]);
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    EXPECT_EQ(0u, boxes);
    EXPECT_TRUE(before == after) << "no command wrote anything";
}

TEST_F(PortListTest, CommandsOnTheMarkedRow)
{
    int code = runManagerWith([&](HWND w) {
        HWND list = GetDlgItem(w, IDC_PORT_LIST);
        present(0, "COM41");
        present(4, "COM44");
        portTable->entries[9].command = PORT_STOP;  // not present: Restart All leaves it
        EXPECT_TRUE(pumpTicks(w, 1));
        selectListRow(list, 1);
        PortEntry* e = &portTable->entries[4];
        SendMessageA(w, WM_COMMAND, IDM_STOP_CONNECTION, 0);
        EXPECT_EQ(PORT_STOP, e->command);
        SendMessageA(w, WM_COMMAND, IDM_START_CONNECTION, 0);
        EXPECT_EQ(PORT_START, e->command);
        SendMessageA(w, WM_COMMAND, IDM_RESTART_CONNECTION, 0);
        EXPECT_EQ(PORT_RESTART, e->command);
        EXPECT_EQ(PORT_START, portTable->entries[0].command) << "only the marked row's entry";
        e->command = PORT_STOP;
        SendMessageA(w, WM_COMMAND, IDM_RESTART_ALL, 0);
        EXPECT_EQ(PORT_RESTART, e->command);
        EXPECT_EQ(PORT_RESTART, portTable->entries[0].command);
        EXPECT_EQ(PORT_STOP, portTable->entries[9].command);

        // Visit Website asks the shell to open the maker's address.
        std::vector<std::string> opened;
        static std::vector<std::string>* record;
        record = &opened;
        void (*saved)(HWND, const char*) = openWebAddress;
        openWebAddress = [](HWND, const char* address) { record->push_back(address); };
        SendMessageA(w, WM_COMMAND, IDM_VISIT_WEBSITE, 0);
        openWebAddress = saved;
        EXPECT_EQ((std::vector<std::string>{"http://www.quorvat.example/"}), opened);
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
}

TEST_F(PortListTest, DeleteRefusedWhileOpenThenDoneWithTheHostsAnswer)
{
    std::vector<SeenBox> boxes;
    int rowsAfter = -1;
    std::string rowLeft;
    int code = runManagerWith([&](HWND w) {
        HWND list = GetDlgItem(w, IDC_PORT_LIST);
        present(0, "COM41");
        present(1, "COM42");
        EXPECT_TRUE(pumpTicks(w, 1));
        selectListRow(list, 1);
        PortEntry* e = &portTable->entries[1];
        e->comOpen = 1;
        {
            DialogWatcher watcher;
            SendMessageA(w, WM_COMMAND, IDM_DELETE, 0);
            boxes = watcher.boxes;
        }
        EXPECT_EQ(PORT_START, e->command) << "nothing written while the port is open";
        EXPECT_EQ(1u, e->inUse);

        // A host stand-in answers the delete: present off, then command 0.
        e->comOpen = 0;
        std::thread host([e] {
            for (int i = 0; i < 100 && readShared(&e->command) != PORT_DELETE; i++)
                Sleep(10);
            Sleep(150);
            writeShared(&e->present, 0u);
            writeShared(&e->command, 0);
        });
        SendMessageA(w, WM_COMMAND, IDM_DELETE, 0);
        host.join();
        EXPECT_EQ(0u, e->inUse);
        rowsAfter = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
        rowLeft = listCell(list, 0, 0);
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("COM42 is being used, Please close it first!", boxes[0].text);
    EXPECT_EQ("error", boxes[0].icon);
    EXPECT_EQ("Error", boxes[0].caption);
    EXPECT_EQ(1, rowsAfter);
    EXPECT_EQ("COM41", rowLeft) << "the marked row went, not another";
}

// The slow one: a host that never answers gives up after 260 polls.
TEST_F(PortListTest, DeleteGivesUpAfterAboutTwentySixSeconds)
{
    std::vector<SeenBox> boxes;
    DWORD waited = 0;
    int rowsAfter = -1;
    int code = runManagerWith([&](HWND w) {
        HWND list = GetDlgItem(w, IDC_PORT_LIST);
        present(3, "COM43");
        EXPECT_TRUE(pumpTicks(w, 1));
        selectListRow(list, 0);
        DialogWatcher watcher;
        DWORD start = GetTickCount();
        SendMessageA(w, WM_COMMAND, IDM_DELETE, 0);
        waited = GetTickCount() - start;
        boxes = watcher.boxes;
        rowsAfter = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
        EXPECT_EQ(PORT_DELETE, portTable->entries[3].command) << "the host may still do it later";
        EXPECT_EQ(1u, portTable->entries[3].inUse);
        PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, code);
    // 260 polls 100 ms apart; the upper bound only catches a wait that never ends.
    EXPECT_GE(waited, 25500u);
    EXPECT_LT(waited, 260000u);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Failed to remove COM43!", boxes[0].text);
    EXPECT_EQ("error", boxes[0].icon);
    EXPECT_EQ(1, rowsAfter) << "the row stays";
}
