// The traffic log: one entry per row the Monitor shows, written to a file.
#include "monitor/traffic_log.h"

#include "monitor/record_text.h"

int writeTrafficLog(FILE* file, const PortEntry* entry, const MonitorRows* rows)
{
    int ok = 1;
    for (int row = 0; row < rows->count; row++) {
        if (!renderLogRecord(entry, &monitorRow(rows, row)->record, row, file))
            ok = 0;
    }
    return ok;
}

int saveTrafficLogTo(const char* path, const PortEntry* entry, const MonitorRows* rows)
{
    if (!path || !entry || !rows || rows->count < 1)
        return 0;
    // Binary: the entries carry their own CR LF line ends.
    FILE* file = fopen(path, "wb");
    if (!file)
        return 0;
    int ok = writeTrafficLog(file, entry, rows);
    if (fclose(file) != 0)
        ok = 0;
    return ok;
}
