// The link state machine of one port: connect, fail, wait, retry, drop.
#include "host/link_logic.h"

#include <cstring>

enum { LINK_RECONNECT_MS = 2000 };   // "Disconnected" stays this long before the first retry

int parsePortNumber(const char* text, int allowZero, uint16_t* out)
{
    if (!text || !*text)
        return 0;
    uint32_t value = 0;
    int digits = 0;
    for (; text[digits]; digits++) {
        if (digits >= 5 || text[digits] < '0' || text[digits] > '9')
            return 0;
        value = value * 10 + (uint32_t)(text[digits] - '0');
    }
    if (value > 65535 || (value == 0 && !allowZero))
        return 0;
    *out = (uint16_t)value;
    return 1;
}

int readLinkSettings(const PortEntry* entry, LinkSettings* out)
{
    char text[32];
    memset(out, 0, sizeof *out);
    copyField(text, sizeof text, entry->protocol, sizeof entry->protocol);
    out->udp = strcmp(text, "udp") == 0;
    copyField(out->host, sizeof out->host, entry->remoteAddress, sizeof entry->remoteAddress);
    copyField(text, sizeof text, entry->remotePort, sizeof entry->remotePort);
    if (!parsePortNumber(text, 0, &out->remotePort))
        return 0;
    copyField(text, sizeof text, entry->localPort, sizeof entry->localPort);
    // The manager stores "0" for an empty local port; an empty field means the same.
    if (text[0] && !parsePortNumber(text, 1, &out->localPort))
        return 0;
    return out->host[0] != 0;
}

int retryDelayMs(int failures)
{
    int delay = LINK_RETRY_FIRST_MS;
    for (int i = 1; i < failures && delay < LINK_RETRY_MAX_MS; i++)
        delay *= 2;
    return delay < LINK_RETRY_MAX_MS ? delay : LINK_RETRY_MAX_MS;
}

int linkStart(LinkMachine* m, int udp, int settingsUsable, int64_t nowMs)
{
    memset(m, 0, sizeof *m);
    m->udp = udp;
    if (!settingsUsable) {
        // Retrying cannot help: the manager restarts the port when it changes them.
        m->phase = LINK_PHASE_IDLE;
        m->state = LINK_FAILED;
        m->detail = LINK_DETAIL_BAD_SETTINGS;
        return LINK_DO_CLOSE;
    }
    m->phase = LINK_PHASE_RESOLVING;
    m->state = LINK_CONNECTING;
    (void)nowMs;
    return LINK_DO_CLOSE | LINK_DO_RESOLVE;
}

int linkStop(LinkMachine* m)
{
    m->phase = LINK_PHASE_IDLE;
    m->state = LINK_STOPPED;
    m->detail = LINK_DETAIL_NONE;
    m->failures = 0;
    return LINK_DO_CLOSE;
}

int linkHalt(LinkMachine* m, uint32_t detail)
{
    m->phase = LINK_PHASE_IDLE;
    m->state = LINK_FAILED;
    m->detail = detail;
    return LINK_DO_CLOSE;
}

int linkResolved(LinkMachine* m, int found, int64_t nowMs)
{
    if (m->phase != LINK_PHASE_RESOLVING)
        return LINK_DO_NOTHING;   // stopped or restarted meanwhile
    if (!found)
        return linkFailed(m, LINK_DETAIL_NO_ADDRESS, nowMs);
    m->phase = LINK_PHASE_OPENING;
    m->deadline = nowMs + LINK_CONNECT_TIMEOUT_MS;
    return LINK_DO_OPEN;
}

int linkOpened(LinkMachine* m)
{
    if (m->phase != LINK_PHASE_OPENING)
        return LINK_DO_NOTHING;
    m->phase = LINK_PHASE_UP;
    m->state = LINK_CONNECTED;
    m->detail = LINK_DETAIL_NONE;
    m->failures = 0;
    return LINK_DO_NOTHING;
}

int linkFailed(LinkMachine* m, uint32_t detail, int64_t nowMs)
{
    if (m->phase == LINK_PHASE_IDLE || m->phase == LINK_PHASE_WAITING)
        return LINK_DO_NOTHING;
    if (m->phase == LINK_PHASE_UP)
        return linkPeerClosed(m, nowMs);
    m->failures++;
    m->phase = LINK_PHASE_WAITING;
    m->retryAt = nowMs + retryDelayMs(m->failures);
    m->state = LINK_FAILED;
    m->detail = detail;
    return LINK_DO_CLOSE;
}

int linkPeerClosed(LinkMachine* m, int64_t nowMs)
{
    if (m->phase != LINK_PHASE_UP)
        return LINK_DO_NOTHING;
    m->phase = LINK_PHASE_WAITING;
    m->failures = 0;
    m->retryAt = nowMs + LINK_RECONNECT_MS;
    m->state = LINK_DISCONNECTED;
    m->detail = LINK_DETAIL_PEER_CLOSED;
    return LINK_DO_CLOSE;
}

int linkTick(LinkMachine* m, int64_t nowMs)
{
    if (m->phase == LINK_PHASE_OPENING && !m->udp && nowMs >= m->deadline)
        return linkFailed(m, LINK_DETAIL_TIMEOUT, nowMs);
    if (m->phase == LINK_PHASE_WAITING && nowMs >= m->retryAt) {
        // A retry keeps showing why the last attempt failed until one succeeds.
        m->phase = LINK_PHASE_RESOLVING;
        return LINK_DO_RESOLVE;
    }
    return LINK_DO_NOTHING;
}

int64_t linkNextDeadline(const LinkMachine* m)
{
    if (m->phase == LINK_PHASE_OPENING && !m->udp)
        return m->deadline;
    if (m->phase == LINK_PHASE_WAITING)
        return m->retryAt;
    return -1;
}
