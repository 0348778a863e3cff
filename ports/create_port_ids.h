// Control ids of the Create Virtual Serial Port dialog (template 131); plain
// defines so the resource compiler reads them too.
#pragma once

#define IDC_VIRTUAL_COM     1002
#define IDC_REMOTE_ADDRESS  1003
#define IDC_REMOTE_PORT     1006
#define IDC_CONNECTION      1007
#define IDC_LOCAL_PORT      1009
