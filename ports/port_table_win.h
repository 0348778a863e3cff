// Mapping the shared port table into this process (Win32).
#pragma once

int mapPortTable();
void unmapPortTable();
