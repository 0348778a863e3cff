// Parsing parlo.ini lines, with every field checked against its table width.
#include "ports/config_read.h"

#include <cstring>

#define CONFIG_KEY_PREFIX "entry_v1_"

enum { CONFIG_FIELDS = 6, KEY_DIGITS_MAX = 9, COM_NUMBER_MAX = 256 };

int isComPortName(const char* name)
{
    if (strncmp(name, "COM", 3) != 0)
        return 0;
    const char* p = name + 3;
    if (*p < '1' || *p > '9')
        return 0;
    int n = 0;
    for (; *p; p++) {
        if (*p < '0' || *p > '9')
            return 0;
        n = n * 10 + (*p - '0');
        if (n > COM_NUMBER_MAX)
            return 0;
    }
    return 1;
}

// A field is printable text without spaces that fits out (with its terminator).
static int takeField(const char* start, size_t length, char* out, size_t outSize)
{
    if (length >= outSize)
        return 0;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)start[i];
        if (c < 0x20 || c == 0x7F)
            return 0;
    }
    memcpy(out, start, length);
    out[length] = '\0';
    return 1;
}

int parseConfigLine(const char* line, size_t length, ConfigEntry* out)
{
    if (length > CONFIG_LINE_MAX || memchr(line, '\0', length))
        return 0;
    const char* end = line + length;
    size_t prefix = sizeof CONFIG_KEY_PREFIX - 1;
    if (length < prefix || memcmp(line, CONFIG_KEY_PREFIX, prefix) != 0)
        return 0;
    const char* p = line + prefix;
    const char* digits = p;
    while (p < end && *p >= '0' && *p <= '9')
        p++;
    if (p == digits || p - digits > KEY_DIGITS_MAX || p == end || *p != '=')
        return 0;
    p++;

    // Split on single spaces, keeping empty fields.
    const char* fieldStart[CONFIG_FIELDS];
    size_t fieldLength[CONFIG_FIELDS];
    int fields = 0;
    const char* start = p;
    for (const char* q = p;; q++) {
        if (q == end || *q == ' ') {
            if (fields == CONFIG_FIELDS)
                return 0;
            fieldStart[fields] = start;
            fieldLength[fields] = (size_t)(q - start);
            fields++;
            if (q == end)
                break;
            start = q + 1;
        }
    }
    if (fields != CONFIG_FIELDS)
        return 0;

    if (!takeField(fieldStart[0], fieldLength[0], out->comName, sizeof out->comName) ||
        !takeField(fieldStart[1], fieldLength[1], out->remoteAddress, sizeof out->remoteAddress) ||
        !takeField(fieldStart[2], fieldLength[2], out->remotePort, sizeof out->remotePort) ||
        !takeField(fieldStart[3], fieldLength[3], out->stateWord, sizeof out->stateWord) ||
        !takeField(fieldStart[4], fieldLength[4], out->protocol, sizeof out->protocol) ||
        !takeField(fieldStart[5], fieldLength[5], out->localPort, sizeof out->localPort))
        return 0;
    if (!isComPortName(out->comName))
        return 0;
    if (strcmp(out->stateWord, "enable") != 0 && strcmp(out->stateWord, "disable") != 0)
        return 0;
    if (strcmp(out->protocol, "tcpc") != 0 && strcmp(out->protocol, "udp") != 0)
        return 0;
    return 1;
}

// Reads a line looking at no more than limit bytes of the file: a line that
// ends neither within them nor with the file counts as too long.
static int readLineWithin(FILE* file, char* line, size_t size, size_t* consumed, size_t limit)
{
    size_t n = 0;
    int tooLong = 0;
    int c;
    *consumed = 0;
    while (*consumed < limit && (c = getc(file)) != EOF) {
        (*consumed)++;
        if (c == '\n')
            break;
        if (n + 1 < size)
            line[n++] = (char)c;
        else
            tooLong = 1;
        if (*consumed == limit) {
            int next = getc(file);
            if (next != EOF) {
                ungetc(next, file);
                tooLong = 1;
            }
        }
    }
    if (size > 0)
        line[n] = '\0';
    if (*consumed == 0)
        return CONFIG_LINE_END;
    if (tooLong)
        return CONFIG_LINE_TOO_LONG;
    if (n > 0 && line[n - 1] == '\r')
        line[--n] = '\0';
    return (int)n;
}

int readConfigLine(FILE* file, char* line, size_t size, size_t* consumed)
{
    // One endless line must not hold the reader either.
    return readLineWithin(file, line, size, consumed, CONFIG_READ_MAX);
}

static int nameTaken(const ConfigEntry* entries, int count, const char* name)
{
    for (int i = 0; i < count; i++)
        if (strcmp(entries[i].comName, name) == 0)
            return 1;
    return 0;
}

static void reject(const ConfigReport* report, int lineNumber, int fault, const char* comName)
{
    if (report && report->rejected)
        report->rejected(report->context, lineNumber, fault, comName);
}

int readConfigEntries(FILE* file, ConfigEntry* out, int maxEntries, const ConfigReport* report)
{
    // Room for the longest accepted line, its CR and the terminator.
    char line[CONFIG_LINE_MAX + 2];
    size_t total = 0;
    int count = 0;
    int lineNumber = 0;
    while ((count < maxEntries || report) && total < CONFIG_READ_MAX) {
        size_t consumed;
        // The limit is the whole file's: a line it cuts is not taken.
        int length = readLineWithin(file, line, sizeof line, &consumed, CONFIG_READ_MAX - total);
        total += consumed;
        if (length == CONFIG_LINE_END)
            break;
        lineNumber++;
        if (length == 0)
            continue;
        if (length < 0) {
            reject(report, lineNumber, CONFIG_FAULT_TOO_LONG, "");
            continue;
        }
        ConfigEntry entry;
        if (!parseConfigLine(line, (size_t)length, &entry)) {
            if (report) {
                char name[COM_NAME_MAX + 1];
                int fault = configLineFault(line, (size_t)length, name);
                reject(report, lineNumber, fault != CONFIG_FAULT_NONE ? fault : CONFIG_FAULT_NOT_ENTRY, name);
            }
            continue;
        }
        if (nameTaken(out, count, entry.comName)) {
            reject(report, lineNumber, CONFIG_FAULT_REPEATED, entry.comName);
            continue;
        }
        if (count >= maxEntries) {
            reject(report, lineNumber, CONFIG_FAULT_NO_ROOM, entry.comName);
            continue;
        }
        out[count++] = entry;
    }
    if (report && total >= CONFIG_READ_MAX && getc(file) != EOF)
        reject(report, lineNumber + 1, CONFIG_FAULT_FILE_TOO_BIG, "");
    return count;
}

int configLineFault(const char* line, size_t length, char* comName)
{
    if (comName)
        comName[0] = '\0';
    if (length > CONFIG_LINE_MAX)
        return CONFIG_FAULT_TOO_LONG;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)line[i];
        if (c < 0x20 || c == 0x7F)
            return CONFIG_FAULT_CONTROL;
    }
    const char* end = line + length;
    size_t prefix = sizeof CONFIG_KEY_PREFIX - 1;
    if (length < prefix || memcmp(line, CONFIG_KEY_PREFIX, prefix) != 0)
        return CONFIG_FAULT_NOT_ENTRY;
    const char* p = line + prefix;
    const char* digits = p;
    while (p < end && *p >= '0' && *p <= '9')
        p++;
    if (p == digits || p - digits > KEY_DIGITS_MAX || p == end || *p != '=')
        return CONFIG_FAULT_NOT_ENTRY;
    p++;

    // The fields, split as parseConfigLine splits them.
    const char* field[CONFIG_FIELDS + 1];
    size_t fieldLength[CONFIG_FIELDS + 1];
    int fields = 0;
    for (const char* q = p, *start = p; fields <= CONFIG_FIELDS; q++) {
        if (q == end || *q == ' ') {
            field[fields] = start;
            fieldLength[fields++] = (size_t)(q - start);
            if (q == end)
                break;
            start = q + 1;
        }
    }
    char name[COM_NAME_MAX + 1] = "";
    int nameSound = takeField(field[0], fieldLength[0], name, sizeof name) && isComPortName(name);
    if (nameSound && comName)
        memcpy(comName, name, sizeof name);
    if (fields != CONFIG_FIELDS)
        return CONFIG_FAULT_FIELDS;
    if (fieldLength[1] >= sizeof(ConfigEntry::remoteAddress) || fieldLength[2] >= sizeof(ConfigEntry::remotePort) ||
        fieldLength[5] >= sizeof(ConfigEntry::localPort))
        return CONFIG_FAULT_FIELD_LONG;
    if (!nameSound)
        return CONFIG_FAULT_COM_NAME;
    char word[8];
    if (!takeField(field[3], fieldLength[3], word, sizeof word) ||
        (strcmp(word, "enable") != 0 && strcmp(word, "disable") != 0))
        return CONFIG_FAULT_STATE;
    if (!takeField(field[4], fieldLength[4], word, sizeof word) ||
        (strcmp(word, "tcpc") != 0 && strcmp(word, "udp") != 0))
        return CONFIG_FAULT_PROTOCOL;
    return CONFIG_FAULT_NONE;
}
