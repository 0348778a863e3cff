// Creating and mapping the shared port table section.
#include <windows.h>

#include "host/host_ports_win.h"
#include "ports/port_table.h"

HANDLE createPortTableSection(int* existed)
{
    // A null DACL: the manager runs as an ordinary user, the host as LocalSystem.
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};

    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, sizeof(PortTable),
                                        PORT_TABLE_SECTION_NAME);
    if (!section)
        return nullptr;
    *existed = GetLastError() == ERROR_ALREADY_EXISTS;
    void* view = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(PortTable));
    if (!view) {
        CloseHandle(section);
        return nullptr;
    }
    portTable = static_cast<PortTable*>(view);
    return section;
}

void closePortTableSection(HANDLE section)
{
    if (portTable)
        UnmapViewOfFile(portTable);
    portTable = nullptr;
    CloseHandle(section);
}
