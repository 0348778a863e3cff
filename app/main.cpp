// Process entry: brings up the host side, then runs the main window.
#include "app/app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    return runManager(instance, showCommand);
}
