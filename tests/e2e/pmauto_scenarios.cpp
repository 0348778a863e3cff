// pmauto's commands for the scenarios scenarios (none of their own yet).
#include "tests/e2e/pmauto.h"

int pmScenarioCommand(int, char**)
{
    return -1;
}
