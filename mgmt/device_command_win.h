// Authenticated device commands over the management socket.
#pragma once

#include "mgmt/device_command.h"

// Opens a management socket, runs the request-authenticate-retry exchange
// for `command` over it and closes it. `authenticate` is called whenever the
// device asks for credentials. Returns 1 when the device reported status 0.
int runMgmtCommand(const MgmtCommand* command, MgmtAuthenticateFn authenticate, void* authContext,
                   MgmtCommandResult* result);
