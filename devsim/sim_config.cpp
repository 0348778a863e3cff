// Parsing of the simulator's device, port and misbehaviour settings and of config files.
#include "devsim/sim_config.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "mgmt/line_settings.h"

namespace {

int fail(SimError* error, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(error->text, sizeof error->text, format, args);
    va_end(args);
    return 0;
}

int parseNumber(const char* text, uint64_t max, uint64_t* value)
{
    if (!text || !*text || *text == '-' || *text == '+')
        return 0;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || v > max)
        return 0;
    *value = v;
    return 1;
}

// A number, or one of the names standing for 0, 1, 2 ... in turn.
int parseNamedNumber(const char* text, const char* const* names, uint64_t max, uint64_t* value)
{
    for (uint64_t i = 0; names && names[i]; i++)
        if (strcmp(text, names[i]) == 0 && names[i][0] != '\0') {
            *value = i;
            return 1;
        }
    return parseNumber(text, max, value);
}

int parseText(const char* key, const char* value, uint8_t* field, int fieldSize, int terminated, SimError* error)
{
    uint8_t buffer[256];
    int n = unescapeValue(value, buffer, sizeof buffer);
    int room = terminated ? fieldSize - 1 : fieldSize;
    if (n < 0)
        return fail(error, "%s: bad escape or too long", key);
    if (n > room)
        return fail(error, "%s: at most %d bytes", key, room);
    memset(field, 0, (size_t)fieldSize);
    memcpy(field, buffer, (size_t)n);
    return 1;
}

int parseBool(const char* text, int* value)
{
    if (!strcmp(text, "1") || !strcmp(text, "on") || !strcmp(text, "yes")) {
        *value = 1;
        return 1;
    }
    if (!strcmp(text, "0") || !strcmp(text, "off") || !strcmp(text, "no")) {
        *value = 0;
        return 1;
    }
    return 0;
}

int parseInterfaces(const char* text, uint64_t* mask)
{
    static const char* const names[] = {"rs232", "rs485", "ttl"};
    static const uint64_t bits[] = {INTERFACE_RS232, INTERFACE_RS485, INTERFACE_TTL};
    if (parseNumber(text, 255, mask))
        return 1;
    char copy[64];
    if (strlen(text) >= sizeof copy)
        return 0;
    strcpy(copy, text);
    uint64_t result = 0;
    for (char* part = strtok(copy, ","); part; part = strtok(nullptr, ",")) {
        int found = 0;
        for (int i = 0; i < 3; i++)
            if (!strcmp(part, names[i])) {
                result |= bits[i];
                found = 1;
            }
        if (!found)
            return 0;
    }
    *mask = result;
    return 1;
}

const char* const kAuthNames[] = {"check", "any", "refuse", nullptr};

}  // namespace

const char* authModeName(int mode)
{
    return mode >= 0 && mode <= 2 ? kAuthNames[mode] : "?";
}

int splitTokens(char* line, char** tokens, int maxTokens)
{
    int n = 0;
    char* p = line;
    for (;;) {
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
            *p++ = '\0';
        if (!*p)
            return n;
        if (n == maxTokens)
            return -1;
        tokens[n++] = p;
        while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
            p++;
    }
}

int unescapeValue(const char* text, uint8_t* out, int outSize)
{
    int n = 0;
    for (const char* p = text; *p; p++) {
        uint8_t c = (uint8_t)*p;
        if (c == '\\') {
            p++;
            switch (*p) {
            case 's': c = ' '; break;
            case 't': c = '\t'; break;
            case 'n': c = '\n'; break;
            case 'r': c = '\r'; break;
            case '\\': c = '\\'; break;
            case 'x': {
                char hexText[3] = {p[1], p[1] ? p[2] : '\0', '\0'};
                char* end;
                if (!hexText[0] || !hexText[1])
                    return -1;
                c = (uint8_t)strtoul(hexText, &end, 16);
                if (*end)
                    return -1;
                p += 2;
                break;
            }
            default:
                return -1;
            }
        }
        if (n >= outSize)
            return -1;
        out[n++] = c;
    }
    return n;
}

int escapeValue(const uint8_t* bytes, int length, char* out, int outSize)
{
    int n = 0;
    for (int i = 0; i < length; i++) {
        char piece[5];
        uint8_t c = bytes[i];
        if (c == ' ')
            strcpy(piece, "\\s");
        else if (c == '\\')
            strcpy(piece, "\\\\");
        else if (c > 0x20 && c < 0x7F)
            piece[0] = (char)c, piece[1] = '\0';
        else
            snprintf(piece, sizeof piece, "\\x%02x", c);
        int len = (int)strlen(piece);
        if (n + len >= outSize)
            break;
        memcpy(out + n, piece, (size_t)len);
        n += len;
    }
    if (outSize > 0)
        out[n] = '\0';
    return n;
}

int parseAddress(const char* text, uint32_t* address)
{
    in_addr a;
    if (inet_pton(AF_INET, text, &a) != 1)
        return 0;
    *address = a.s_addr;
    return 1;
}

int applyDeviceKey(SimDevice* device, const char* key, const char* value, SimError* error)
{
    DeviceRecord* r = &device->record;
    uint64_t v = 0;
    if (!strcmp(key, "sn"))
        return parseText(key, value, r->serialNumber, 12, 0, error);
    if (!strcmp(key, "model"))
        return parseText(key, value, (uint8_t*)r->model, 16, 0, error);
    if (!strcmp(key, "fw")) {
        unsigned a, b, c;
        char tail;
        if (sscanf(value, "%u.%u.%u%c", &a, &b, &c, &tail) != 3 || a > 255 || b > 255 || c > 255)
            return fail(error, "fw: expected A.B.C, each 0-255");
        r->firmwareVersion[0] = (uint8_t)a, r->firmwareVersion[1] = (uint8_t)b, r->firmwareVersion[2] = (uint8_t)c;
        return 1;
    }
    uint32_t* address = !strcmp(key, "ip")     ? &r->network.ipAddress
                        : !strcmp(key, "mask") ? &r->network.netmask
                        : !strcmp(key, "gw")   ? &r->network.gateway
                        : !strcmp(key, "dns1") ? &r->network.primaryDns
                        : !strcmp(key, "dns2") ? &r->network.secondaryDns
                                               : nullptr;
    if (address)
        return parseAddress(value, address) ? 1 : fail(error, "%s: not an IPv4 address", key);
    if (!strcmp(key, "addrmode")) {
        static const char* const names[] = {"", "static", "dhcp", nullptr};
        if (!parseNamedNumber(value, names, 255, &v))
            return fail(error, "addrmode: static, dhcp or 0-255");
        r->network.addressMode = (uint8_t)v;
        return 1;
    }
    if (!strcmp(key, "web")) {
        if (!parseNumber(value, 65535, &v))
            return fail(error, "web: 0-65535");
        r->webPort = (uint16_t)v;
        return 1;
    }
    if (!strcmp(key, "ports")) {
        if (!parseNumber(value, SIM_MAX_PORTS, &v) || v < 1)
            return fail(error, "ports: 1-%d", SIM_MAX_PORTS);
        device->portCount = (int)v;
        return 1;
    }
    if (!strcmp(key, "auth")) {
        if (!parseNamedNumber(value, kAuthNames, 2, &v))
            return fail(error, "auth: check, any or refuse");
        device->auth = (int)v;
        return 1;
    }
    if (!strcmp(key, "user"))
        return parseText(key, value, (uint8_t*)device->userName, 16, 1, error);
    if (!strcmp(key, "pass"))
        return parseText(key, value, (uint8_t*)device->password, 16, 1, error);
    if (!strcmp(key, "refuse")) {
        if (!parseNumber(value, 0xFFFFFFFFu, &v))
            return fail(error, "refuse: a status value");
        device->refuseStatus = (uint32_t)v;
        return 1;
    }
    if (!strcmp(key, "rebootms")) {
        if (!parseNumber(value, SIM_MAX_REBOOT_MS, &v))
            return fail(error, "rebootms: 0-%d", SIM_MAX_REBOOT_MS);
        device->rebootMs = (int)v;
        return 1;
    }
    if (!strcmp(key, "prefix")) {
        for (int i = 0; i < SIM_MAX_PORTS; i++)
            if (!parseText(key, value, (uint8_t*)device->ports[i].echoPrefix, SIM_PREFIX_SIZE, 1, error))
                return 0;
        return 1;
    }
    if (!strcmp(key, "bytes")) {
        // OFFSET:HEX writes raw record bytes, for fields the manager does not interpret.
        char* end;
        unsigned long offset = strtoul(value, &end, 10);
        if (end == value || *end != ':' || offset >= sizeof *r)
            return fail(error, "bytes: OFFSET:HEX within the 112-byte record");
        const char* hexText = end + 1;
        size_t digits = strlen(hexText);
        if (digits == 0 || digits % 2 || offset + digits / 2 > sizeof *r)
            return fail(error, "bytes: HEX must be whole bytes inside the record");
        uint8_t* raw = (uint8_t*)r;
        for (size_t i = 0; i < digits / 2; i++) {
            char pair[3] = {hexText[2 * i], hexText[2 * i + 1], '\0'};
            char* pend;
            unsigned long byte = strtoul(pair, &pend, 16);
            if (*pend)
                return fail(error, "bytes: bad hex");
            raw[offset + i] = (uint8_t)byte;
        }
        return 1;
    }
    return fail(error, "unknown device key '%s'", key);
}

int applyPortKey(SimPort* port, const char* key, const char* value, SimError* error)
{
    SerialPortConfig* c = &port->config;
    uint64_t v = 0;
    uint32_t line = c->lineSettings;
    if (!strcmp(key, "baud")) {
        if (!parseNumber(value, LINE_BAUD_MASK, &v))
            return fail(error, "baud: 0-1048575");
        c->lineSettings = packLineSettings(line, (uint32_t)v, lineParity(line), lineDataBits(line), lineStopBits(line));
        return 1;
    }
    if (!strcmp(key, "parity")) {
        static const char* const names[] = {"none", "even", "odd", nullptr};
        if (!parseNamedNumber(value, names, 7, &v))
            return fail(error, "parity: none, even, odd or 0-7");
        c->lineSettings = packLineSettings(line, lineBaudRate(line), (uint32_t)v, lineDataBits(line), lineStopBits(line));
        return 1;
    }
    if (!strcmp(key, "data")) {
        if (!parseNumber(value, 8, &v) || v < 5)
            return fail(error, "data: 5-8");
        c->lineSettings = packLineSettings(line, lineBaudRate(line), lineParity(line), (uint32_t)(v - 5), lineStopBits(line));
        return 1;
    }
    if (!strcmp(key, "stop")) {
        static const char* const names[] = {"0.5", "1", "1.5", "2", nullptr};
        uint64_t code = 0;
        int found = 0;
        for (int i = 0; names[i]; i++)
            if (!strcmp(value, names[i]))
                code = (uint64_t)i, found = 1;
        if (!found)
            return fail(error, "stop: 0.5, 1, 1.5 or 2");
        c->lineSettings = packLineSettings(line, lineBaudRate(line), lineParity(line), lineDataBits(line), (uint32_t)code);
        return 1;
    }
    if (!strcmp(key, "top")) {
        if (!parseNumber(value, 7, &v))
            return fail(error, "top: 0-7");
        c->lineSettings = (line & ~LINE_KEPT_MASK) | ((uint32_t)v << 29);
        return 1;
    }
    if (!strcmp(key, "line")) {
        if (!parseNumber(value, 0xFFFFFFFFu, &v))
            return fail(error, "line: a 32-bit value");
        c->lineSettings = (uint32_t)v;
        return 1;
    }
    if (!strcmp(key, "mode")) {
        static const char* const names[] = {"", "", "tcp", "", "udp", nullptr};
        if (!parseNamedNumber(value, names, 255, &v))
            return fail(error, "mode: tcp, udp or 0-255");
        c->workMode = (uint8_t)v;
        return 1;
    }
    if (!strcmp(key, "dport") || !strcmp(key, "pport")) {
        if (!parseNumber(value, 65535, &v))
            return fail(error, "%s: 0-65535", key);
        if (key[0] == 'd')
            c->devicePort = (uint16_t)v;
        else
            c->peerPort = (uint16_t)v;
        return 1;
    }
    if (!strcmp(key, "peer"))
        return parseText(key, value, (uint8_t*)c->peerAddress, 32, 1, error);
    if (!strcmp(key, "if") || !strcmp(key, "ifs")) {
        if (!parseInterfaces(value, &v))
            return fail(error, "%s: rs232, rs485, ttl (comma-separated for ifs) or a number", key);
        if (key[2] == 's')
            c->supportedInterfaces = (uint8_t)v;
        else
            c->interface = (uint8_t)v;
        return 1;
    }
    if (!strcmp(key, "prefix"))
        return parseText(key, value, (uint8_t*)port->echoPrefix, SIM_PREFIX_SIZE, 1, error);
    return fail(error, "unknown port key '%s'", key);
}

int applyMisbehaviourKey(SimDevice* device, const char* key, const char* value, SimError* error)
{
    Misbehaviour* m = &device->misbehaviour;
    uint64_t v = 0;
    int flag = 0;
    if (!strcmp(key, "crc")) {
        if (strcmp(value, "bad") && strcmp(value, "ok"))
            return fail(error, "crc: bad or ok");
        m->badCrc = !strcmp(value, "bad");
    } else if (!strcmp(key, "serial")) {
        if (strcmp(value, "wrong") && strcmp(value, "ok"))
            return fail(error, "serial: wrong or ok");
        m->wrongSerial = !strcmp(value, "wrong");
    } else if (!strcmp(key, "foreign") || !strcmp(key, "oversize") || !strcmp(key, "silent")) {
        if (!parseBool(value, &flag))
            return fail(error, "%s: 0 or 1", key);
        int* field = key[0] == 'f' ? &m->foreignFirst : key[0] == 'o' ? &m->oversize : &m->silent;
        *field = flag;
    } else if (!strcmp(key, "dup")) {
        if (!parseNumber(value, SIM_MAX_DUPLICATES, &v))
            return fail(error, "dup: 0-%d", SIM_MAX_DUPLICATES);
        m->duplicates = (int)v;
    } else if (!strcmp(key, "junk")) {
        if (!parseNumber(value, SIM_MAX_JUNK, &v))
            return fail(error, "junk: 0-%d", SIM_MAX_JUNK);
        m->junk = (int)v;
    } else if (!strcmp(key, "delay")) {
        if (!parseNumber(value, SIM_MAX_DELAY_MS, &v))
            return fail(error, "delay: 0-%d ms", SIM_MAX_DELAY_MS);
        m->delayMs = (int)v;
    } else if (!strcmp(key, "count")) {
        if (!parseNumber(value, 1000000, &v))
            return fail(error, "count: 0 (until cleared) or a number of replies");
        m->remaining = v == 0 ? -1 : (int)v;
    } else if (!strcmp(key, "other")) {
        if (!parseText(key, value, m->otherSerial, 12, 0, error))
            return 0;
    } else if (!strcmp(key, "on")) {
        static const char* const names[] = {"all", "discover", "command", nullptr};
        if (!parseNamedNumber(value, names, 2, &v))
            return fail(error, "on: all, discover or command");
        m->scope = (int)v;
    } else {
        return fail(error, "unknown misbehaviour '%s'", key);
    }
    m->active = 1;
    return 1;
}

namespace {

int splitKeyValue(char* token, char** key, char** value, SimError* error)
{
    char* eq = strchr(token, '=');
    if (!eq || eq == token)
        return fail(error, "expected key=value, got '%s'", token);
    *eq = '\0';
    *key = token;
    *value = eq + 1;
    return 1;
}

// Serial number `prefix` followed by `number`, zero-padded to 12 bytes.
int generatedSerial(const uint8_t* prefix, int prefixLength, int number, uint8_t serial[12])
{
    char digits[16];
    int width = 12 - prefixLength;
    int n = snprintf(digits, sizeof digits, "%0*d", width, number);
    if (width <= 0 || n != width)
        return 0;
    memcpy(serial, prefix, (size_t)prefixLength);
    memcpy(serial + prefixLength, digits, (size_t)width);
    return 1;
}

}  // namespace

int addDevices(SimWorld* world, char** tokens, int tokenCount, int* first, int* last, SimError* error)
{
    SimDevice* proto = new SimDevice;
    std::unique_ptr<SimDevice> owner(proto);
    initSimDevice(proto);
    uint64_t count = 1;
    const char* serialValue = nullptr;
    for (int i = 0; i < tokenCount; i++) {
        char* key;
        char* value;
        char copy[SIM_MAX_LINE];
        snprintf(copy, sizeof copy, "%s", tokens[i]);
        if (!splitKeyValue(copy, &key, &value, error))
            return 0;
        if (!strcmp(key, "count")) {
            if (!parseNumber(value, SIM_MAX_DEVICES, &count) || count < 1)
                return fail(error, "count: 1-%d", SIM_MAX_DEVICES);
            continue;
        }
        if (!strcmp(key, "sn"))
            serialValue = tokens[i] + 3;
        if (!applyDeviceKey(proto, key, value, error))
            return 0;
    }
    if (world->deviceCount + (int)count > SIM_MAX_DEVICES)
        return fail(error, "at most %d devices", SIM_MAX_DEVICES);
    uint8_t prefix[12] = {};
    int prefixLength = 0;
    if (count > 1) {
        if (serialValue)
            prefixLength = unescapeValue(serialValue, prefix, sizeof prefix);
        else
            memcpy(prefix, "SIM", 3), prefixLength = 3;
        uint8_t probe[12];
        if (prefixLength < 0 || !generatedSerial(prefix, prefixLength, (int)count, probe))
            return fail(error, "sn: prefix leaves no room for %d numbered devices", (int)count);
    }
    uint32_t baseAddress = ntohl(proto->record.network.ipAddress);
    *first = world->deviceCount;
    for (int i = 0; i < (int)count; i++) {
        SimDevice* d = &world->devices[world->deviceCount++];
        *d = *proto;
        if (count > 1) {
            generatedSerial(prefix, prefixLength, i + 1, d->record.serialNumber);
            d->record.network.ipAddress = htonl(baseAddress + (uint32_t)i);
        }
    }
    *last = world->deviceCount - 1;
    return 1;
}

int applyPortTokens(SimWorld* world, int first, int last, char** tokens, int tokenCount, SimError* error)
{
    if (tokenCount < 1)
        return fail(error, "port: expected a port number or 'all'");
    uint64_t number = 0;
    int all = !strcmp(tokens[0], "all");
    if (!all && (!parseNumber(tokens[0], SIM_MAX_PORTS, &number) || number < 1))
        return fail(error, "port: number 1-%d or 'all'", SIM_MAX_PORTS);
    for (int d = first; d <= last; d++) {
        for (int p = 0; p < SIM_MAX_PORTS; p++) {
            if (!all && p != (int)number - 1)
                continue;
            for (int i = 1; i < tokenCount; i++) {
                char copy[SIM_MAX_LINE];
                char* key;
                char* value;
                snprintf(copy, sizeof copy, "%s", tokens[i]);
                if (!splitKeyValue(copy, &key, &value, error))
                    return 0;
                if (!applyPortKey(&world->devices[d].ports[p], key, value, error))
                    return 0;
            }
        }
    }
    return 1;
}

int loadConfigText(SimWorld* world, const char* text, SimError* error)
{
    size_t size = strnlen(text, SIM_MAX_CONFIG_BYTES + 1);
    if (size > SIM_MAX_CONFIG_BYTES)
        return fail(error, "config larger than %d bytes", SIM_MAX_CONFIG_BYTES);
    // Lines only add devices and change the ones they added, so undoing a
    // failed load means dropping what was added.
    int originalCount = world->deviceCount;
    int first = -1, last = -1;
    int lineNumber = 0;
    const char* p = text;
    while (*p) {
        lineNumber++;
        const char* end = strchr(p, '\n');
        size_t length = end ? (size_t)(end - p) : strlen(p);
        char line[SIM_MAX_LINE];
        SimError inner;
        int ok = 1;
        if (length >= SIM_MAX_LINE) {
            ok = fail(&inner, "longer than %d bytes", SIM_MAX_LINE - 1);
        } else {
            memcpy(line, p, length);
            line[length] = '\0';
        }
        p += length + (end ? 1 : 0);

        char* tokens[SIM_MAX_TOKENS];
        int n = ok ? splitTokens(line, tokens, SIM_MAX_TOKENS) : 0;
        if (n < 0)
            ok = fail(&inner, "too many words");
        else if (!ok || n == 0 || tokens[0][0] == '#')
            ;
        else if (!strcmp(tokens[0], "device"))
            ok = addDevices(world, tokens + 1, n - 1, &first, &last, &inner);
        else if (!strcmp(tokens[0], "port"))
            ok = first < 0 ? fail(&inner, "port line before any device line")
                           : applyPortTokens(world, first, last, tokens + 1, n - 1, &inner);
        else
            ok = fail(&inner, "unknown line '%s'", tokens[0]);
        if (!ok) {
            memset(&world->devices[originalCount], 0, sizeof(SimDevice) * (size_t)(world->deviceCount - originalCount));
            world->deviceCount = originalCount;
            return fail(error, "line %d: %s", lineNumber, inner.text);
        }
    }
    return 1;
}

int formatDevice(const SimDevice* d, char* out, int outSize)
{
    const DeviceRecord* r = &d->record;
    char serial[64], model[80], user[80], password[80];
    escapeValue(r->serialNumber, (int)strnlen((const char*)r->serialNumber, 12), serial, sizeof serial);
    escapeValue((const uint8_t*)r->model, (int)strnlen(r->model, 16), model, sizeof model);
    escapeValue((const uint8_t*)d->userName, (int)strnlen(d->userName, 15), user, sizeof user);
    escapeValue((const uint8_t*)d->password, (int)strnlen(d->password, 15), password, sizeof password);
    char ip[16], mask[16], gw[16], dns1[16], dns2[16];
    inet_ntop(AF_INET, &r->network.ipAddress, ip, sizeof ip);
    inet_ntop(AF_INET, &r->network.netmask, mask, sizeof mask);
    inet_ntop(AF_INET, &r->network.gateway, gw, sizeof gw);
    inet_ntop(AF_INET, &r->network.primaryDns, dns1, sizeof dns1);
    inet_ntop(AF_INET, &r->network.secondaryDns, dns2, sizeof dns2);

    int n = snprintf(out, (size_t)outSize,
                     "device sn=%s model=%s fw=%u.%u.%u ip=%s mask=%s gw=%s dns1=%s dns2=%s addrmode=%u web=%u "
                     "ports=%d auth=%s user=%s pass=%s refuse=%u rebootms=%d\n",
                     serial, model, r->firmwareVersion[0], r->firmwareVersion[1], r->firmwareVersion[2], ip, mask,
                     gw, dns1, dns2, r->network.addressMode, r->webPort, d->portCount, authModeName(d->auth), user,
                     password, d->refuseStatus, d->rebootMs);
    for (int i = 0; i < d->portCount && n < outSize; i++) {
        const SimPort* p = &d->ports[i];
        const SerialPortConfig* c = &p->config;
        char peer[140], prefix[140];
        escapeValue((const uint8_t*)c->peerAddress, (int)strnlen(c->peerAddress, 31), peer, sizeof peer);
        escapeValue((const uint8_t*)p->echoPrefix, (int)strnlen(p->echoPrefix, SIM_PREFIX_SIZE - 1), prefix,
                    sizeof prefix);
        n += snprintf(out + n, (size_t)(outSize - n),
                      "port %d line=0x%08x mode=%u dport=%u peer=%s pport=%u if=%u ifs=%u prefix=%s\n", i + 1,
                      c->lineSettings, c->workMode, c->devicePort, peer, c->peerPort, c->interface,
                      c->supportedInterfaces, prefix);
    }
    return n < outSize ? n : outSize - 1;
}
