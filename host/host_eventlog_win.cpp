// ReportEvent under the host's decisions: the event source PARLOSVR, whose
// sentences are ParloHost.exe's own message table.
#include <windows.h>

#include <cstdio>

#include "host/host_eventlog_win.h"
#include "host_messages.h"   // windmc's ids, generated from host/host_messages.mc

static HostEventLog eventLog;
static HANDLE source;
static int toConsole;

// The full event id: the message's severity in the top two bits.
static constexpr DWORD eventIdOf(int type, int id)
{
    return (DWORD)type << 30 | (DWORD)id;
}

static DWORD fullEventId(const HostEvent* e)
{
    return eventIdOf(e->type, e->id);
}

static_assert(MSG_HOST_STARTED == eventIdOf(HOST_EVENT_INFORMATION, HOST_EVENT_STARTED), "message table");
static_assert(MSG_HOST_STOPPING == eventIdOf(HOST_EVENT_INFORMATION, HOST_EVENT_STOPPING), "message table");
static_assert(MSG_CONFIG_LINE == eventIdOf(HOST_EVENT_WARNING, HOST_EVENT_CONFIG_LINE), "message table");
static_assert(MSG_CONFIG_LINE_PORT == eventIdOf(HOST_EVENT_WARNING, HOST_EVENT_CONFIG_LINE_PORT), "message table");
static_assert(MSG_CONFIG_MORE == eventIdOf(HOST_EVENT_WARNING, HOST_EVENT_CONFIG_MORE), "message table");
static_assert(MSG_FAR_END == eventIdOf(HOST_EVENT_ERROR, HOST_EVENT_FAR_END), "message table");
static_assert(MSG_LINK_FAILED == eventIdOf(HOST_EVENT_WARNING, HOST_EVENT_LINK_FAILED), "message table");
static_assert(MSG_LINK_BACK == eventIdOf(HOST_EVENT_INFORMATION, HOST_EVENT_LINK_BACK), "message table");
static_assert(MSG_BAD_SETTINGS == eventIdOf(HOST_EVENT_WARNING, HOST_EVENT_BAD_SETTINGS), "message table");
static_assert(MSG_BAD_NAME == eventIdOf(HOST_EVENT_WARNING, HOST_EVENT_BAD_NAME), "message table");
static_assert(MSG_BAD_COMMAND == eventIdOf(HOST_EVENT_WARNING, HOST_EVENT_BAD_COMMAND), "message table");
static_assert(MSG_BAD_CAPTURE == eventIdOf(HOST_EVENT_WARNING, HOST_EVENT_BAD_CAPTURE), "message table");
static_assert(MSG_SUPPRESSED == eventIdOf(HOST_EVENT_WARNING, HOST_EVENT_SUPPRESSED), "message table");

static WORD eventType(int type)
{
    switch (type) {
    case HOST_EVENT_ERROR: return EVENTLOG_ERROR_TYPE;
    case HOST_EVENT_WARNING: return EVENTLOG_WARNING_TYPE;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

static void reportEvent(void*, const HostEvent* e)
{
    const char* strings[HOST_EVENT_STRINGS];
    for (int k = 0; k < e->stringCount && k < HOST_EVENT_STRINGS; k++)
        strings[k] = e->strings[k];
    if (source)
        ReportEventA(source, eventType(e->type), 0, fullEventId(e), nullptr, (WORD)e->stringCount, 0, strings,
                     nullptr);
    if (!toConsole)
        return;
    // The sentence from our own message table, as the Event Viewer builds it.
    DWORD_PTR arguments[HOST_EVENT_STRINGS];
    for (int k = 0; k < HOST_EVENT_STRINGS; k++)
        arguments[k] = (DWORD_PTR)(k < e->stringCount ? e->strings[k] : "");
    char text[1024];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, GetModuleHandleA(nullptr),
                             fullEventId(e), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text,
                             reinterpret_cast<va_list*>(arguments));
    printf("ParloHost: event %d: %s", e->id, n ? text : "(no message)\n");
}

void openHostEventLog(int console)
{
    toConsole = console;
    initHostEvents(&eventLog, HostEventSink{nullptr, reportEvent});
    source = RegisterEventSourceA(nullptr, "PARLOSVR");
}

void closeHostEventLog()
{
    if (source)
        DeregisterEventSource(source);
    source = nullptr;
}

HostEventLog* hostEvents()
{
    return &eventLog;
}
