// The simulator's control commands: device changes, policies, misbehaviour, logs, data side.
#include "devsim/sim_control.h"

#include <arpa/inet.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "devsim/sim_config.h"
#include "devsim/sim_request.h"

namespace {

void emit(ControlOutput* out, const char* format, ...)
{
    if (out->truncated)
        return;
    int room = (int)sizeof out->text - out->length;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(out->text + out->length, (size_t)room, format, args);
    va_end(args);
    // Keep room for the final status line.
    if (n < 0 || n >= room - 64) {
        out->truncated = 1;
        out->text[out->length] = '\0';
        return;
    }
    out->length += n;
}

int error(ControlOutput* out, const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    out->truncated = 0;
    int n = snprintf(out->text + out->length, sizeof out->text - (size_t)out->length, "ERR %s\n", text);
    if (n > 0)
        out->length += n;
    return 0;
}

int ok(ControlOutput* out)
{
    int n = snprintf(out->text + out->length, sizeof out->text - (size_t)out->length,
                     out->truncated ? "ERR output truncated\n" : "OK\n");
    if (n > 0)
        out->length += n;
    return !out->truncated;
}

void hexText(const uint8_t* p, int n, char* out)
{
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < n; i++) {
        out[2 * i] = digits[p[i] >> 4];
        out[2 * i + 1] = digits[p[i] & 15];
    }
    out[2 * n] = '\0';
}

// Device selection: a 1-based index, or "all" when allowed.
int selectDevices(const SimWorld* world, const char* text, int allowAll, int* first, int* last, ControlOutput* out)
{
    if (!text)
        return error(out, "missing device number");
    if (allowAll && !strcmp(text, "all")) {
        if (world->deviceCount == 0)
            return error(out, "no devices");
        *first = 0;
        *last = world->deviceCount - 1;
        return 1;
    }
    char* end;
    long n = strtol(text, &end, 10);
    if (*end || end == text || n < 1 || n > world->deviceCount)
        return error(out, "no device '%s' (1-%d%s)", text, world->deviceCount, allowAll ? " or all" : "");
    *first = *last = (int)n - 1;
    return 1;
}

int applyKeys(SimDevice* d, char** tokens, int n, int (*apply)(SimDevice*, const char*, const char*, SimError*),
              ControlOutput* out)
{
    for (int i = 0; i < n; i++) {
        char copy[SIM_MAX_LINE];
        snprintf(copy, sizeof copy, "%s", tokens[i]);
        char* eq = strchr(copy, '=');
        if (!eq || eq == copy)
            return error(out, "expected key=value, got '%s'", tokens[i]);
        *eq = '\0';
        SimError e;
        if (!apply(d, copy, eq + 1, &e))
            return error(out, "%s", e.text);
    }
    return 1;
}

void listDevice(const SimDevice* d, int index, int64_t nowMs, ControlOutput* out)
{
    char serial[64], ip[16];
    escapeValue(d->record.serialNumber, (int)strnlen((const char*)d->record.serialNumber, 12), serial, sizeof serial);
    inet_ntop(AF_INET, &d->record.network.ipAddress, ip, sizeof ip);
    emit(out, "%d sn=%s ip=%s ports=%d auth=%s data=%s rebooting=%d reboots=%d pending=%d misbehave=%d log=%d\n",
         index + 1, serial, ip, d->portCount, authModeName(d->auth), d->dataDown ? "down" : "up",
         nowMs < d->rebootingUntilMs, d->rebootCount, d->networkPending, d->misbehaviour.active, d->logCount);
}

int commandShow(SimWorld* world, char** t, int n, ControlOutput* out)
{
    int first, last;
    if (!selectDevices(world, n > 1 ? t[1] : nullptr, 1, &first, &last, out))
        return 0;
    for (int i = first; i <= last; i++) {
        const SimDevice* d = &world->devices[i];
        char text[SIM_MAX_PORTS * 256 + 512];
        formatDevice(d, text, sizeof text);
        emit(out, "%s", text);
        if (d->networkPending) {
            char ip[16], mask[16], gw[16];
            inet_ntop(AF_INET, &d->pendingNetwork.ipAddress, ip, sizeof ip);
            inet_ntop(AF_INET, &d->pendingNetwork.netmask, mask, sizeof mask);
            inet_ntop(AF_INET, &d->pendingNetwork.gateway, gw, sizeof gw);
            emit(out, "pending ip=%s mask=%s gw=%s addrmode=%u\n", ip, mask, gw, d->pendingNetwork.addressMode);
        }
    }
    return ok(out);
}

int commandAdd(SimWorld* world, char** t, int n, ControlOutput* out, ControlEffects* fx)
{
    int first, last;
    SimError e;
    if (!addDevices(world, t + 1, n - 1, &first, &last, &e))
        return error(out, "%s", e.text);
    for (int i = first; i <= last; i++)
        fx->refresh[i] = 1;
    emit(out, "added %d %d\n", first + 1, last + 1);
    return ok(out);
}

int commandSet(SimWorld* world, char** t, int n, ControlOutput* out, ControlEffects* fx)
{
    int first, last;
    if (!selectDevices(world, n > 1 ? t[1] : nullptr, 1, &first, &last, out))
        return 0;
    for (int i = first; i <= last; i++) {
        SimDevice saved = world->devices[i];
        if (!applyKeys(&world->devices[i], t + 2, n - 2, applyDeviceKey, out)) {
            world->devices[i] = saved;
            return 0;
        }
        fx->refresh[i] = 1;
    }
    return ok(out);
}

int commandPort(SimWorld* world, char** t, int n, ControlOutput* out, ControlEffects* fx)
{
    int first, last;
    if (!selectDevices(world, n > 1 ? t[1] : nullptr, 1, &first, &last, out))
        return 0;
    SimError e;
    if (!applyPortTokens(world, first, last, t + 2, n - 2, &e))
        return error(out, "%s", e.text);
    for (int i = first; i <= last; i++)
        fx->refresh[i] = 1;
    return ok(out);
}

int commandPolicy(SimWorld* world, char** t, int n, ControlOutput* out)
{
    int first, last;
    if (!selectDevices(world, n > 1 ? t[1] : nullptr, 1, &first, &last, out))
        return 0;
    const char* mode = n > 2 ? t[2] : "";
    for (int i = first; i <= last; i++) {
        SimDevice* d = &world->devices[i];
        SimError e;
        if (!strcmp(mode, "any") && n == 3) {
            d->auth = AUTH_ANY;
        } else if (!strcmp(mode, "default") && n == 3) {
            d->auth = AUTH_CHECK;
            strcpy(d->userName, "tolmo");
            strcpy(d->password, "tolmo");
        } else if (!strcmp(mode, "check") && (n == 3 || n == 5)) {
            if (n == 5 && (!applyDeviceKey(d, "user", t[3], &e) || !applyDeviceKey(d, "pass", t[4], &e)))
                return error(out, "%s", e.text);
            d->auth = AUTH_CHECK;
        } else if (!strcmp(mode, "refuse") && (n == 3 || n == 4)) {
            if (n == 4 && !applyDeviceKey(d, "refuse", t[3], &e))
                return error(out, "%s", e.text);
            d->auth = AUTH_REFUSE;
        } else {
            return error(out, "policy ID any | default | check [USER PASS] | refuse [STATUS]");
        }
    }
    return ok(out);
}

int commandMisbehave(SimWorld* world, char** t, int n, ControlOutput* out)
{
    int first, last;
    if (!selectDevices(world, n > 1 ? t[1] : nullptr, 1, &first, &last, out))
        return 0;
    if (n < 3)
        return error(out, "misbehave ID none | key=value...");
    for (int i = first; i <= last; i++) {
        SimDevice* d = &world->devices[i];
        Misbehaviour m = d->misbehaviour;
        if (!strcmp(t[2], "none") && n == 3) {
            clearMisbehaviour(&d->misbehaviour);
            continue;
        }
        if (!m.active) {
            // Fresh misbehaviour: the "other" serial defaults to the
            // device's own with its last byte changed.
            clearMisbehaviour(&d->misbehaviour);
            memcpy(d->misbehaviour.otherSerial, d->record.serialNumber, 12);
            d->misbehaviour.otherSerial[11] = d->record.serialNumber[11] == 'X' ? 'Y' : 'X';
        }
        if (!applyKeys(d, t + 2, n - 2, applyMisbehaviourKey, out)) {
            d->misbehaviour = m;
            return 0;
        }
    }
    return ok(out);
}

int commandLog(SimWorld* world, char** t, int n, ControlOutput* out)
{
    int first, last;
    if (!selectDevices(world, n > 1 ? t[1] : nullptr, 1, &first, &last, out))
        return 0;
    int clear = n > 2 && !strcmp(t[2], "clear");
    if (n > 3 || (n == 3 && !clear))
        return error(out, "log ID [clear]");
    for (int i = first; i <= last; i++) {
        SimDevice* d = &world->devices[i];
        if (clear) {
            d->logCount = 0;
            continue;
        }
        for (int k = 0; k < d->logCount; k++) {
            char line[1024];
            formatLogEntry(logEntryAt(d, k), line, sizeof line);
            emit(out, "%d %s\n", i + 1, line);
        }
    }
    return ok(out);
}

int commandDataSide(SimWorld* world, char** t, int n, int down, ControlOutput* out, ControlEffects* fx)
{
    int first, last;
    if (n != 2 || !selectDevices(world, t[1], 1, &first, &last, out))
        return n != 2 ? error(out, "%s ID", t[0]) : 0;
    for (int i = first; i <= last; i++) {
        world->devices[i].dataDown = down;
        fx->refresh[i] = 1;
    }
    return ok(out);
}

int commandReboot(SimWorld* world, char** t, int n, ControlOutput* out, ControlEffects* fx)
{
    int first, last;
    if (n != 2 || !selectDevices(world, t[1], 1, &first, &last, out))
        return n != 2 ? error(out, "reboot ID") : 0;
    for (int i = first; i <= last; i++)
        fx->reboot[i] = 1;
    return ok(out);
}

int commandInject(SimWorld* world, char** t, int n, ControlOutput* out, ControlEffects* fx)
{
    int first, last;
    if (n != 4)
        return error(out, "inject ID PORT TEXT (escapes \\s \\n \\xHH)");
    if (!selectDevices(world, t[1], 0, &first, &last, out))
        return 0;
    char* end;
    long port = strtol(t[2], &end, 10);
    if (*end || port < 1 || port > world->devices[first].portCount)
        return error(out, "no port '%s'", t[2]);
    int length = unescapeValue(t[3], fx->injectData, SIM_MAX_INJECT);
    if (length < 0)
        return error(out, "text: bad escape or longer than %d bytes", SIM_MAX_INJECT);
    fx->injectDevice = first;
    fx->injectPort = (int)port - 1;
    fx->injectLength = length;
    return ok(out);
}

int commandData(SimWorld* world, const ControlView* view, char** t, int n, ControlOutput* out)
{
    int first, last;
    if (n != 2 || !selectDevices(world, t[1], 1, &first, &last, out))
        return n != 2 ? error(out, "data ID") : 0;
    for (int i = first; i <= last; i++)
        for (int p = 0; p < world->devices[i].portCount; p++) {
            char line[256] = "";
            if (view && view->describePort)
                view->describePort(view->context, i, p, line, sizeof line);
            emit(out, "%d %d %s\n", i + 1, p + 1, line);
        }
    return ok(out);
}

}  // namespace

void resetControlEffects(ControlEffects* fx)
{
    memset(fx, 0, sizeof *fx);
    fx->injectDevice = -1;
}

int formatLogEntry(const LogEntry* e, char* out, int outSize)
{
    char serial[64] = "-", digest[33] = "-", payload[2 * SIM_LOG_PAYLOAD + 1] = "";
    if (e->hasPrefix) {
        escapeValue(e->serial, 12, serial, sizeof serial);
        hexText(e->digest, 16, digest);
    }
    hexText(e->payload, e->payloadLength, payload);
    char reply[64] = "reply=none";
    if (e->replyCode == 255)
        snprintf(reply, sizeof reply, "reply=255 status=%u", e->replyStatus);
    else if (e->replyCode == 147)
        snprintf(reply, sizeof reply, "reply=147 ports=%d", e->replyCount);
    else if (e->replyCode)
        snprintf(reply, sizeof reply, "reply=%d", e->replyCode);
    return snprintf(out, (size_t)outSize, "seq=%u time=%lld from=%s code=%u len=%d crc=%s sn=%s digest=%s payload=%s %s",
                    e->sequence, (long long)e->timeMs, e->from[0] ? e->from : "-", e->code, e->length,
                    e->crcOk ? "ok" : "bad", serial, digest, payload[0] ? payload : "-", reply);
}

int runControlCommand(SimWorld* world, const ControlView* view, const char* line, ControlOutput* out,
                      ControlEffects* fx)
{
    out->length = 0;
    out->truncated = 0;
    out->text[0] = '\0';
    char copy[SIM_MAX_LINE];
    if (strlen(line) >= sizeof copy)
        return error(out, "line too long");
    strcpy(copy, line);
    char* t[SIM_MAX_TOKENS];
    int n = splitTokens(copy, t, SIM_MAX_TOKENS);
    if (n < 0)
        return error(out, "too many words");
    if (n == 0)
        return error(out, "empty command");
    const char* c = t[0];
    int64_t now = view ? view->nowMs : 0;
    if (!strcmp(c, "ping"))
        return ok(out);
    if (!strcmp(c, "info")) {
        emit(out, "mgmt_port=%d devices=%d\n", view ? view->mgmtPort : 0, world->deviceCount);
        return ok(out);
    }
    if (!strcmp(c, "sent")) {
        emit(out, "last_sent_ms=%lld\n", (long long)(view ? view->lastSentMs : 0));
        return ok(out);
    }
    if (!strcmp(c, "list")) {
        for (int i = 0; i < world->deviceCount; i++)
            listDevice(&world->devices[i], i, now, out);
        return ok(out);
    }
    if (!strcmp(c, "show"))
        return commandShow(world, t, n, out);
    if (!strcmp(c, "add"))
        return commandAdd(world, t, n, out, fx);
    if (!strcmp(c, "set"))
        return commandSet(world, t, n, out, fx);
    if (!strcmp(c, "port"))
        return commandPort(world, t, n, out, fx);
    if (!strcmp(c, "policy"))
        return commandPolicy(world, t, n, out);
    if (!strcmp(c, "misbehave"))
        return commandMisbehave(world, t, n, out);
    if (!strcmp(c, "log"))
        return commandLog(world, t, n, out);
    if (!strcmp(c, "down") || !strcmp(c, "up"))
        return commandDataSide(world, t, n, c[0] == 'd', out, fx);
    if (!strcmp(c, "reboot"))
        return commandReboot(world, t, n, out, fx);
    if (!strcmp(c, "inject"))
        return commandInject(world, t, n, out, fx);
    if (!strcmp(c, "data"))
        return commandData(world, view, t, n, out);
    if (!strcmp(c, "quit")) {
        fx->quit = 1;
        return ok(out);
    }
    return error(out, "unknown command '%s'", c);
}
