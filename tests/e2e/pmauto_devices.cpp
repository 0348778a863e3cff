// pmauto's commands for the devices scenarios (none of their own yet).
#include "tests/e2e/pmauto.h"

int pmDeviceCommand(int, char**)
{
    return -1;
}
