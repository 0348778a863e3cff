// The host's events: what is worth an administrator's attention, once, and
// never a flood.
#include "host/host_events.h"

#include <cstdio>
#include <cstring>

#include "host/host_logic.h"
#include "host/link_logic.h"
#include "ports/config_read.h"

void initHostEvents(HostEventLog* log, HostEventSink sink)
{
    memset(log, 0, sizeof *log);
    log->sink = sink;
}

// Texts from the table or a file: no control characters, and cut to what an
// event holds.
static void setString(HostEvent* e, int k, const char* text)
{
    size_t n = 0;
    for (; text && text[n] && n + 1 < sizeof e->strings[k]; n++) {
        unsigned char c = (unsigned char)text[n];
        e->strings[k][n] = c < 0x20 || c == 0x7F ? '?' : (char)c;
    }
    e->strings[k][n] = '\0';
    if (k >= e->stringCount)
        e->stringCount = k + 1;
}

static void setNumber(HostEvent* e, int k, long long value)
{
    char text[24];
    snprintf(text, sizeof text, "%lld", value);
    setString(e, k, text);
}

static void startEvent(HostEvent* e, int id, int type, int port)
{
    memset(e, 0, sizeof *e);
    e->id = id;
    e->type = type;
    e->port = port;
}

static void send(HostEventLog* log, const HostEvent* e)
{
    if (log->sink.report)
        log->sink.report(log->sink.context, e);
}

// How a port is named in its events: its COM name, or its table entry when
// its name is not one.
static void portLabel(const PortEntry* entry, int index, char* out, size_t size)
{
    char name[COM_NAME_MAX + 1];
    comName(entry, name, sizeof name);
    if (hostPortNumber(entry))
        snprintf(out, size, "%s", name);
    else
        snprintf(out, size, "table entry %d", index);
}

static void remoteLabel(const PortEntry* entry, char* out, size_t size)
{
    char address[sizeof entry->remoteAddress];
    char port[sizeof entry->remotePort];
    char protocol[sizeof entry->protocol];
    copyField(address, sizeof address, entry->remoteAddress, sizeof entry->remoteAddress);
    copyField(port, sizeof port, entry->remotePort, sizeof entry->remotePort);
    copyField(protocol, sizeof protocol, entry->protocol, sizeof entry->protocol);
    snprintf(out, size, "%s:%s (%s)", address, port, strcmp(protocol, "udp") == 0 ? "UDP" : "TCP");
}

// A port's events pass while it has tokens: HOST_EVENT_BURST at once, then
// one each HOST_EVENT_REFILL_MS. What did not pass is told, in one event,
// before the next that does.
static void sendPortEvent(HostEventLog* log, const HostEvent* e, const PortEntry* entry, int64_t nowMs)
{
    HostPortEvents* p = &log->ports[e->port];
    if (!p->started) {
        p->started = 1;
        p->tokens = HOST_EVENT_BURST;
        p->refillAt = nowMs + HOST_EVENT_REFILL_MS;
    }
    while (p->tokens < HOST_EVENT_BURST && nowMs >= p->refillAt) {
        p->tokens++;
        p->refillAt += HOST_EVENT_REFILL_MS;
    }
    if (p->tokens >= HOST_EVENT_BURST)
        p->refillAt = nowMs + HOST_EVENT_REFILL_MS;
    if (p->tokens == 0) {
        p->suppressed++;
        return;
    }
    p->tokens--;
    if (p->suppressed) {
        HostEvent summary;
        char label[64];
        startEvent(&summary, HOST_EVENT_SUPPRESSED, HOST_EVENT_WARNING, e->port);
        portLabel(entry, e->port, label, sizeof label);
        setNumber(&summary, 0, p->suppressed);
        setString(&summary, 1, label);
        setNumber(&summary, 2, HOST_EVENT_BURST);
        setNumber(&summary, 3, HOST_EVENT_REFILL_MS / 60000);
        send(log, &summary);
        p->suppressed = 0;
    }
    send(log, e);
}

void hostEventStarted(HostEventLog* log, const char* iniPath, int restored, int adopted)
{
    HostEvent e;
    startEvent(&e, HOST_EVENT_STARTED, HOST_EVENT_INFORMATION, -1);
    setNumber(&e, 0, restored);
    setString(&e, 1, iniPath);
    setNumber(&e, 2, adopted);
    send(log, &e);
}

void hostEventStopping(HostEventLog* log, int held)
{
    HostEvent e;
    startEvent(&e, HOST_EVENT_STOPPING, HOST_EVENT_INFORMATION, -1);
    setNumber(&e, 0, held);
    send(log, &e);
}

void hostEventConfigLine(HostEventLog* log, const char* iniPath, int lineNumber, int fault, const char* comName)
{
    if (log->configLines++ >= HOST_CONFIG_EVENTS_MAX)
        return;
    HostEvent e;
    int named = comName && comName[0];
    startEvent(&e, named ? HOST_EVENT_CONFIG_LINE_PORT : HOST_EVENT_CONFIG_LINE, HOST_EVENT_WARNING, -1);
    setNumber(&e, 0, lineNumber);
    setString(&e, 1, iniPath);
    if (named)
        setString(&e, 2, comName);
    setString(&e, named ? 3 : 2, configFaultText(fault));
    send(log, &e);
}

void hostEventConfigDone(HostEventLog* log, const char* iniPath)
{
    if (log->configLines > HOST_CONFIG_EVENTS_MAX) {
        HostEvent e;
        startEvent(&e, HOST_EVENT_CONFIG_MORE, HOST_EVENT_WARNING, -1);
        setNumber(&e, 0, log->configLines - HOST_CONFIG_EVENTS_MAX);
        setString(&e, 1, iniPath);
        setNumber(&e, 2, HOST_CONFIG_EVENTS_MAX);
        send(log, &e);
    }
    log->configLines = 0;
}

void hostEventTakenUp(HostEventLog* log, int index, const PortEntry* entry, int64_t nowMs)
{
    if (index < 0 || index >= PORT_TABLE_ENTRIES)
        return;
    HostPortEvents* p = &log->ports[index];
    p->linkFailed = 0;
    p->farEndFailed = 0;
    p->lastState = 0;
    p->lastDetail = 0;
    p->refusedCommand = 0;
    if (hostPortNumber(entry))
        return;
    HostEvent e;
    char name[sizeof entry->portName];
    copyField(name, sizeof name, entry->portName, sizeof entry->portName);
    startEvent(&e, HOST_EVENT_BAD_NAME, HOST_EVENT_WARNING, index);
    setNumber(&e, 0, index);
    setString(&e, 1, name);
    sendPortEvent(log, &e, entry, nowMs);
}

void hostEventFarEnd(HostEventLog* log, int index, const PortEntry* entry, int opened, uint32_t error,
                     const char* errorText, int64_t nowMs)
{
    if (index < 0 || index >= PORT_TABLE_ENTRIES)
        return;
    HostPortEvents* p = &log->ports[index];
    if (opened || p->farEndFailed) {
        p->farEndFailed = opened ? 0 : p->farEndFailed;
        return;
    }
    p->farEndFailed = 1;
    HostEvent e;
    char label[64], name[sizeof entry->portName], why[HOST_EVENT_STRING_MAX];
    portLabel(entry, index, label, sizeof label);
    copyField(name, sizeof name, entry->portName, sizeof entry->portName);
    if (errorText && errorText[0])
        snprintf(why, sizeof why, "error %u: %s", (unsigned)error, errorText);
    else
        snprintf(why, sizeof why, "error %u", (unsigned)error);
    startEvent(&e, HOST_EVENT_FAR_END, HOST_EVENT_ERROR, index);
    setString(&e, 0, label);
    setString(&e, 1, name);
    setString(&e, 2, why);
    sendPortEvent(log, &e, entry, nowMs);
}

// Which of the entry's settings the host cannot use, in words.
static void settingsFault(const PortEntry* entry, char* out, size_t size)
{
    char text[sizeof entry->remoteAddress];
    uint16_t number;
    copyField(text, sizeof text, entry->remotePort, sizeof entry->remotePort);
    if (!parsePortNumber(text, 0, &number)) {
        snprintf(out, size, "its remote port \"%s\" is not a number from 1 to 65535", text);
        return;
    }
    copyField(text, sizeof text, entry->localPort, sizeof entry->localPort);
    if (text[0] && !parsePortNumber(text, 1, &number)) {
        snprintf(out, size, "its local port \"%s\" is not a number from 0 to 65535", text);
        return;
    }
    snprintf(out, size, "its remote address is empty");
}

void hostEventLink(HostEventLog* log, int index, const PortEntry* entry, uint32_t state, uint32_t detail,
                   int64_t nowMs)
{
    if (index < 0 || index >= PORT_TABLE_ENTRIES)
        return;
    HostPortEvents* p = &log->ports[index];
    if (state == p->lastState && detail == p->lastDetail)
        return;
    p->lastState = state;
    p->lastDetail = detail;

    HostEvent e;
    char label[64], text[HOST_EVENT_STRING_MAX];
    portLabel(entry, index, label, sizeof label);
    switch (state) {
    case LINK_CONNECTED:
        if (!p->linkFailed)
            return;
        p->linkFailed = 0;
        remoteLabel(entry, text, sizeof text);
        startEvent(&e, HOST_EVENT_LINK_BACK, HOST_EVENT_INFORMATION, index);
        setString(&e, 0, label);
        setString(&e, 1, text);
        sendPortEvent(log, &e, entry, nowMs);
        return;
    case LINK_STOPPED:
    case LINK_CONNECTING:
        // The manager stopped or (re)started the port: what fails next is news.
        p->linkFailed = 0;
        return;
    case LINK_FAILED:
    case LINK_DISCONNECTED:
        break;
    default:
        return;
    }
    if (detail == LINK_DETAIL_BAD_SETTINGS) {
        settingsFault(entry, text, sizeof text);
        startEvent(&e, HOST_EVENT_BAD_SETTINGS, HOST_EVENT_WARNING, index);
        setString(&e, 0, label);
        setString(&e, 1, text);
        sendPortEvent(log, &e, entry, nowMs);
        return;
    }
    // A lost serial side is the far end's event; the rest are the link's.
    const char* why = linkDetailText(detail);
    if (!why || p->linkFailed)
        return;
    p->linkFailed = 1;
    remoteLabel(entry, text, sizeof text);
    startEvent(&e, HOST_EVENT_LINK_FAILED, HOST_EVENT_WARNING, index);
    setString(&e, 0, label);
    setString(&e, 1, text);
    setString(&e, 2, why);
    sendPortEvent(log, &e, entry, nowMs);
}

void hostEventCommand(HostEventLog* log, int index, const PortEntry* entry, int held, int64_t nowMs)
{
    if (index < 0 || index >= PORT_TABLE_ENTRIES)
        return;
    HostPortEvents* p = &log->ports[index];
    int32_t command = readShared(&entry->command);
    int known = command >= 0 && command <= PORT_DELETE;
    if (known || !readShared(&entry->inUse)) {
        p->refusedCommand = 0;
        return;
    }
    if (command == p->refusedCommand)
        return;
    p->refusedCommand = command;
    HostEvent e;
    char label[64];
    portLabel(entry, index, label, sizeof label);
    startEvent(&e, HOST_EVENT_BAD_COMMAND, HOST_EVENT_WARNING, index);
    setNumber(&e, 0, index);
    setString(&e, 1, label);
    setNumber(&e, 2, command);
    setString(&e, 3, held ? "PARLOSVR keeps the port enabled, as ParloMgr reads such a value."
                          : "PARLOSVR does not take the port up.");
    sendPortEvent(log, &e, entry, nowMs);
}

void hostEventCapture(HostEventLog* log, int index, const PortEntry* entry, int32_t request, int64_t nowMs)
{
    if (index < 0 || index >= PORT_TABLE_ENTRIES || request == 0)
        return;
    HostEvent e;
    char label[64];
    portLabel(entry, index, label, sizeof label);
    startEvent(&e, HOST_EVENT_BAD_CAPTURE, HOST_EVENT_WARNING, index);
    setNumber(&e, 0, index);
    setString(&e, 1, label);
    setNumber(&e, 2, request);
    sendPortEvent(log, &e, entry, nowMs);
}

const char* linkDetailText(uint32_t detail)
{
    switch (detail) {
    case LINK_DETAIL_NO_ADDRESS: return "the remote address does not resolve";
    case LINK_DETAIL_BIND: return "its local port cannot be bound; another program may use it";
    case LINK_DETAIL_REFUSED: return "the device refused the connection";
    case LINK_DETAIL_TIMEOUT: return "the device did not answer in time";
    case LINK_DETAIL_PEER_CLOSED: return "the device closed the connection";
    case LINK_DETAIL_NETWORK: return "the network reported an error";
    }
    return nullptr;
}

const char* configFaultText(int fault)
{
    switch (fault) {
    case CONFIG_FAULT_TOO_LONG: return "the line is longer than 512 characters";
    case CONFIG_FAULT_NOT_ENTRY: return "it does not start with entry_v1_ and a number followed by =";
    case CONFIG_FAULT_FIELDS: return "it does not have six fields separated by single spaces";
    case CONFIG_FAULT_CONTROL: return "it holds a control character";
    case CONFIG_FAULT_FIELD_LONG: return "a field is longer than the port table holds";
    case CONFIG_FAULT_COM_NAME: return "its COM name is not COM1 to COM256";
    case CONFIG_FAULT_STATE: return "its state is neither enable nor disable";
    case CONFIG_FAULT_PROTOCOL: return "its protocol is neither tcpc nor udp";
    case CONFIG_FAULT_REPEATED: return "an earlier line has the same COM name";
    case CONFIG_FAULT_NO_ROOM: return "the port table holds 128 ports, and the lines before it filled it";
    case CONFIG_FAULT_FILE_TOO_BIG: return "the file is read up to its first megabyte only";
    }
    return "it is not a port line";
}

// Appends length bytes of text to out at *n, keeping room for the terminator.
static int appendText(char* out, size_t outSize, size_t* n, const char* text, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        if (*n + 1 >= outSize)
            return 0;
        out[(*n)++] = text[i];
    }
    return 1;
}

int renderHostEvent(const char* message, const HostEvent* event, char* out, size_t outSize)
{
    if (outSize == 0)
        return 0;
    size_t n = 0;
    int whole = 1;
    for (const char* p = message; *p && whole; p++) {
        if (*p != '%' || !p[1]) {
            whole = appendText(out, outSize, &n, p, 1);
            continue;
        }
        p++;
        if (*p >= '1' && *p <= '9') {
            int k = *p - '1';
            if (k < event->stringCount)
                whole = appendText(out, outSize, &n, event->strings[k], strlen(event->strings[k]));
        } else if (*p == 'n') {
            whole = appendText(out, outSize, &n, "\r\n", 2);
        } else {
            whole = appendText(out, outSize, &n, p, 1);
        }
    }
    out[n] = '\0';
    return whole;
}
