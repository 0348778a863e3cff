// What the port dialogs make of typed texts: numbers, protocol words, the
// address check and the next local port to offer.
#pragma once

#include "ports/port_table.h"

// The leading decimal digits of text as a number, 0 when there are none.
// Stops growing past PORT_NUMBER_CAP so no text can overflow it.
enum { PORT_NUMBER_CAP = 100000000, FIRST_LOCAL_PORT = 6001, LAST_LOCAL_PORT = 65535 };
int leadingNumber(const char* text);

// "udp" when the Connection text is exactly "UDP", "tcpc" for anything else.
const char* protocolWordFor(const char* connectionText);

// 1 when text holds a space character anywhere.
int hasSpace(const char* text);

// The largest leading number of localPort over the present entries, 0 when
// there are none (or the table is not mapped).
int largestLocalPort(const PortTable* table);

// The first port above every configured local port (from 6001 when none is
// configured) that both checks accept, UDP first; 0 when no port below 65535
// passes.
int findFreeLocalPort(const PortTable* table, int (*udpFree)(int port), int (*tcpFree)(int port));
