// Maps the host's shared port table into this process.
#include <windows.h>

#include "ports/port_table.h"
#include "ports/port_table_win.h"

static HANDLE tableSection;

int mapPortTable()
{
    HANDLE section = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, PORT_TABLE_SECTION_NAME);
    if (!section)
        return 0;
    void* view = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(PortTable));
    if (!view) {
        CloseHandle(section);
        return 0;
    }
    tableSection = section;
    portTable = static_cast<PortTable*>(view);
    return 1;
}

void unmapPortTable()
{
    if (portTable)
        UnmapViewOfFile(portTable);
    portTable = nullptr;
    if (tableSection)
        CloseHandle(tableSection);
    tableSection = nullptr;
}
