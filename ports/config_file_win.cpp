// writeConfigFile: parlo.ini in the Windows directory, from the mapped table.
#include <windows.h>

#include <cstdio>

#include "ports/config_file.h"

void writeConfigFile()
{
    if (!portTable)
        return;
    char directory[MAX_PATH];
    UINT n = GetWindowsDirectoryA(directory, sizeof directory);
    if (n == 0 || n >= sizeof directory)
        return;
    char path[MAX_PATH + 16];
    snprintf(path, sizeof path, "%s\\" CONFIG_FILE_NAME, directory);
    writeConfigFileAt(portTable, path);
}
