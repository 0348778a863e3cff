// Writing parlo.ini from the port table.
#include "ports/config_file.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

int writeConfigLines(const PortTable* table, FILE* file)
{
    int line = 1;
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        const PortEntry* e = &table->entries[i];
        if (!e->inUse)
            continue;
        char name[COM_NAME_MAX + 1], address[128], remotePort[32], protocol[32], localPort[32];
        comName(e, name, sizeof name);
        copyField(address, sizeof address, e->remoteAddress, sizeof e->remoteAddress);
        copyField(remotePort, sizeof remotePort, e->remotePort, sizeof e->remotePort);
        copyField(protocol, sizeof protocol, e->protocol, sizeof e->protocol);
        copyField(localPort, sizeof localPort, e->localPort, sizeof e->localPort);
        const char* state = e->command == PORT_STOP ? "disable" : "enable";
        if (fprintf(file, "entry_v1_%d=%s %s %s %s %s %s\r\n", line, name, address, remotePort, state,
                    protocol, localPort) < 0)
            return 0;
        line++;
    }
    return 1;
}

static int syncAndClose(FILE* file)
{
    int ok = fflush(file) == 0;
#ifdef _WIN32
    ok = ok && FlushFileBuffers((HANDLE)_get_osfhandle(_fileno(file)));
#else
    ok = ok && fsync(fileno(file)) == 0;
#endif
    return (fclose(file) == 0) && ok;
}

static int replaceFile(const char* from, const char* to)
{
#ifdef _WIN32
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return rename(from, to) == 0;
#endif
}

int writeConfigFileAt(const PortTable* table, const char* path)
{
    char temp[1024];
    if (snprintf(temp, sizeof temp, "%s.new", path) >= (int)sizeof temp)
        return 0;
    FILE* file = fopen(temp, "wb");
    if (!file)
        return 0;
    int ok = writeConfigLines(table, file);
    ok = syncAndClose(file) && ok;
    if (!ok || !replaceFile(temp, path)) {
        remove(temp);
        return 0;
    }
    return 1;
}
