// Saving the Monitor's shown records as a traffic log file the user names.
#include "monitor/traffic_log_win.h"

#include <commdlg.h>

#include <cstdio>
#include <cstring>

#include "monitor/monitor_dialog_win.h"
#include "monitor/monitor_rows.h"
#include "monitor/traffic_log.h"

static_assert(TRAFFIC_LOG_DIALOG_FLAGS ==
                  (OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_LONGNAMES),
              "save dialog options");

enum { LOG_PATH_CHARS = 256 };

// With "All (*.*)" chosen and no extension typed, the dialog appends the
// default-extension text "*.log" as it is (name.*.log; some versions only
// its first three characters, name.*.l), a name no file can have. A '*'
// cannot come from anywhere else, since the dialog takes a typed one as a
// filter, so such a tail is made the plain ".log" it stands for. Returns 1
// when the name was mended.
static int mendDefaultExtension(char* path, size_t size)
{
    char* name = strrchr(path, '\\');
    char* star = strstr(name ? name : path, ".*");
    if (!star)
        return 0;
    const size_t room = size - (size_t)(star - path);
    if (room <= strlen(".log"))
        return 0;
    snprintf(star, room, ".log");
    return 1;
}

// The dialog asked about the name it returned, not about the mended one.
static int confirmReplace(HWND owner, const char* path)
{
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return 1;
    char text[LOG_PATH_CHARS + 64];
    snprintf(text, sizeof text, "%s already exists.\nDo you want to replace it?", path);
    return MessageBoxA(owner, text, "Save File ...", MB_YESNO | MB_ICONWARNING) == IDYES;
}

// The rows as they were when Save was pressed; the drain thread may go on meanwhile.
static MonitorRows savedRows;

int saveTrafficLog(HWND owner)
{
    copyShownRows(&savedRows);
    if (savedRows.count < 1)
        return 0;
    const PortEntry* entry = monitoredPortEntry();
    if (!entry)
        return 0;

    char path[LOG_PATH_CHARS] = "";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = "Traffic log (*.log)\0*.log\0All (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = LOG_PATH_CHARS;
    dialog.lpstrTitle = "Save File ...";
    dialog.lpstrDefExt = "*.log";
    dialog.Flags = TRAFFIC_LOG_DIALOG_FLAGS;
    if (!GetSaveFileNameA(&dialog))
        return 0;
    if (mendDefaultExtension(path, sizeof path) && !confirmReplace(owner, path))
        return 0;
    return saveTrafficLogTo(path, entry, &savedRows);
}
