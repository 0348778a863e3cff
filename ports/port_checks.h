// Checks on COM names and local ports before a virtual port is created or
// re-targeted. The socket checks need Windows Sockets started.
#pragma once

// 1 when no device of that name exists; 0 when it opens, is held by another
// program, or cannot be tried (empty or longer than a port name allows).
int isComNameFree(const char* name);

// 1 when a socket of that kind binds to the wildcard address and the port
// (taken as 16 bits). Binds only: nothing is sent or connected.
int localPortFreeTcp(int port);
int localPortFreeUdp(int port);

// The local port to offer for a new virtual port: above every configured
// one, from 6001, bindable for UDP and TCP; 0 when none is.
int nextFreeLocalPort();

// The 0-based index of the first of COM1..COM128 that does not open, or -1.
int firstFreeComNumber();
