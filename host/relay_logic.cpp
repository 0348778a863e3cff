// The relay's bookkeeping: one buffer per direction, nothing read into a buffer in use.
#include "host/relay_logic.h"

int relayNextOps(const RelayState* r)
{
    int ops = 0;
    // toNet is the serial read's buffer and the send's: free only when both are idle.
    if (r->serialOpen && !r->busy[RELAY_READ_SERIAL] && !r->busy[RELAY_SEND_NET] && r->toNet == 0)
        ops |= 1 << RELAY_READ_SERIAL;
    if (r->linkUp && !r->busy[RELAY_SEND_NET] && r->toNet > 0)
        ops |= 1 << RELAY_SEND_NET;
    if (r->linkUp && !r->busy[RELAY_RECV_NET] && !r->busy[RELAY_WRITE_SERIAL] && r->toSerial == 0)
        ops |= 1 << RELAY_RECV_NET;
    if (r->serialOpen && !r->busy[RELAY_WRITE_SERIAL] && r->toSerial > 0)
        ops |= 1 << RELAY_WRITE_SERIAL;
    return ops;
}

uint32_t relaySerialRead(RelayState* r, uint32_t bytes)
{
    r->busy[RELAY_READ_SERIAL] = 0;
    r->toNet = r->linkUp ? bytes : 0;
    return r->toNet;
}

uint32_t relayNetReceived(RelayState* r, uint32_t bytes)
{
    r->busy[RELAY_RECV_NET] = 0;
    r->toSerial = r->serialOpen ? bytes : 0;
    return r->toSerial;
}

uint32_t relayNetSent(RelayState* r, uint32_t bytes)
{
    r->busy[RELAY_SEND_NET] = 0;
    r->toNet = bytes < r->toNet ? r->toNet - bytes : 0;
    return r->toNet;
}

uint32_t relaySerialWritten(RelayState* r, uint32_t bytes)
{
    r->busy[RELAY_WRITE_SERIAL] = 0;
    r->toSerial = bytes < r->toSerial ? r->toSerial - bytes : 0;
    return r->toSerial;
}

void relayAbandoned(RelayState* r, int op)
{
    if (op < 0 || op >= RELAY_OPS)
        return;
    r->busy[op] = 0;
    if (op == RELAY_SEND_NET)
        r->toNet = 0;
    if (op == RELAY_WRITE_SERIAL)
        r->toSerial = 0;
}

void relaySerialOpened(RelayState* r)
{
    r->serialOpen = 1;
    r->serialReadMode = SERIAL_READ_AVAILABLE;
    r->busy[RELAY_READ_SERIAL] = 0;
    r->busy[RELAY_WRITE_SERIAL] = 0;
    r->toSerial = 0;
}

int relayEmptySerialRead(RelayState* r)
{
    r->busy[RELAY_READ_SERIAL] = 0;
    if (r->serialReadMode == SERIAL_READ_INTERVAL)
        return 0;
    r->serialReadMode = SERIAL_READ_INTERVAL;
    return 1;
}

void relayLinkDown(RelayState* r)
{
    r->linkUp = 0;
    r->toNet = 0;
}

void relaySerialGone(RelayState* r)
{
    r->serialOpen = 0;
    r->toSerial = 0;
}
