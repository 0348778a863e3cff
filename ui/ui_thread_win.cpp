// Process-wide state of the user-interface thread.
#include "ui/ui_thread.h"

#include <shellapi.h>

HINSTANCE appInstance;
char textScratch[TEXT_SCRATCH_SIZE];

HINSTANCE appResources()
{
    return appInstance ? appInstance : GetModuleHandleA(nullptr);
}

static void shellOpen(HWND owner, const char* address)
{
    ShellExecuteA(owner, "open", address, nullptr, nullptr, SW_SHOW);
}

void (*openWebAddress)(HWND owner, const char* address) = shellOpen;
