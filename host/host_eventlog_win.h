// The host's events on their way to the Application log.
#pragma once
#include "host/host_events.h"

// Opens the event source PARLOSVR; in the foreground (console) each event is
// printed too, as the Event Viewer would show it.
void openHostEventLog(int console);
void closeHostEventLog();
// The process's log, for the decisions of host/host_events.h.
HostEventLog* hostEvents();
