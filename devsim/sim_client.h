// Client side of the simulator's control socket, for scripts and tests.
#pragma once

#include <string>

// Sends one command line and collects the response up to its final "OK" or
// "ERR ..." line. Returns 1 for OK, 0 for ERR, -1 when the simulator could
// not be reached or did not answer within timeoutMs. `response` receives
// every line, the final one included.
int sendControlCommand(const char* socketPath, const std::string& command, std::string* response, int timeoutMs);
