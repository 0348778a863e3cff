// The common control classes that the main window and the dialog templates
// use, registered once at start-up: a template whose class is not
// registered fails to open.
#pragma once

#include <windows.h>
#include <commctrl.h>

enum : DWORD { COMMON_CONTROL_CLASSES = ICC_LISTVIEW_CLASSES | ICC_INTERNET_CLASSES };
