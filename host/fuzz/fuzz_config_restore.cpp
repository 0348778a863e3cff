// Fuzz target: parlo.ini read and restored as the host does at start-up:
// readConfigEntries from the file, createEntryPairs, then restoreEntries into
// a table the manager may already have written into. The file is whatever a
// power cut or anyone with write access left; the raw bytes also go to
// parseConfigLine and, line by line, to readConfigLine with a small buffer.
#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_restore.h"
#include "ports/config_read.h"
#include "ports/port_table.h"

#define CHECK(c)                                                                   \
    do {                                                                           \
        if (!(c)) {                                                                \
            fprintf(stderr, "fuzz_config_restore: %s (line %d)\n", #c, __LINE__);  \
            abort();                                                               \
        }                                                                          \
    } while (0)

namespace {

enum { HEADER = offsetof(PortEntry, captureRing) };

// The whole table, allocated once: the rings are never touched, so only the
// pages of the entries' first fields are ever used.
PortTable* table;
// Slots whose first fields may hold anything but zeros, and what they held
// before the restore: only those are reset and compared, which keeps a run
// cheap.
bool dirty[PORT_TABLE_ENTRIES];
unsigned char before[PORT_TABLE_ENTRIES][HEADER];
unsigned long runs;

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at;
    uint8_t byte() { return at < size ? data[at++] : 0; }
};

// The number of "COM" and 1-256 without a leading zero, else 0, told
// independently of isComPortName.
int comNumberOf(const char* name)
{
    size_t length = strlen(name);
    if (length < 4 || length > 6 || memcmp(name, "COM", 3) != 0 || name[3] == '0')
        return 0;
    int n = 0;
    for (size_t i = 3; i < length; i++) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n <= 256 ? n : 0;
}

// A field terminated within its array, of printable characters and no space.
bool fieldSound(const char* field, size_t size)
{
    size_t n = strnlen(field, size);
    if (n == size)
        return false;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)field[i];
        if (c < 0x20 || c == 0x7F || c == ' ')
            return false;
    }
    return true;
}

#define SOUND(e, f) fieldSound((e).f, sizeof (e).f)

void checkEntry(const ConfigEntry& e)
{
    CHECK(SOUND(e, comName) && SOUND(e, remoteAddress) && SOUND(e, remotePort) && SOUND(e, stateWord) &&
          SOUND(e, protocol) && SOUND(e, localPort));
    CHECK(comNumberOf(e.comName) > 0);
    CHECK(strcmp(e.stateWord, "enable") == 0 || strcmp(e.stateWord, "disable") == 0);
    CHECK(strcmp(e.protocol, "tcpc") == 0 || strcmp(e.protocol, "udp") == 0);
}

// What follows the key's "=" on the entry's line.
std::string_view lineOf(const ConfigEntry& e, char* out, size_t size)
{
    int n = snprintf(out, size, "=%s %s %s %s %s %s", e.comName, e.remoteAddress, e.remotePort, e.stateWord,
                     e.protocol, e.localPort);
    CHECK(n > 0 && (size_t)n < size);
    return std::string_view(out, (size_t)n);
}

// Each entry read stands whole on a line of the part of the file the reader
// may look at, in file order.
void checkFromFile(std::string_view file, const ConfigEntry* entries, int count)
{
    size_t limit = file.size() < (size_t)CONFIG_READ_MAX ? file.size() : (size_t)CONFIG_READ_MAX;
    std::string_view seen = file.substr(0, limit);
    size_t from = 0;
    for (int i = 0; i < count; i++) {
        char buffer[CONFIG_LINE_MAX + 1];
        std::string_view text = lineOf(entries[i], buffer, sizeof buffer);
        size_t found = std::string::npos;
        for (size_t at = seen.find(text, from); at != std::string::npos; at = seen.find(text, at + 1)) {
            // The line ends within what the reader may look at, or with the file.
            size_t end = at + text.size();
            bool ended = (end == seen.size() && limit == file.size()) || (end < seen.size() && seen[end] == '\n') ||
                         (end < seen.size() && seen[end] == '\r' &&
                          ((end + 1 == seen.size() && limit == file.size()) ||
                           (end + 1 < seen.size() && seen[end + 1] == '\n')));
            if (ended) {
                found = at;
                break;
            }
        }
        CHECK(found != std::string::npos);
        from = found + 1;
    }
}

// The file as a stream over the bytes themselves, with a buffer of our own
// (the run allocates nothing it need not).
FILE* openInMemory(std::string_view file)
{
    static char empty;
    static char buffer[BUFSIZ];
    FILE* f = fmemopen(file.empty() ? &empty : const_cast<char*>(file.data()), file.size(), "rb");
    CHECK(f);
    setvbuf(f, buffer, _IOFBF, sizeof buffer);
    return f;
}

struct Pairs {
    int calls;
    const ConfigEntry* entries;
};

void createPair(void* context, const char* comName, const char* nullName)
{
    Pairs* p = static_cast<Pairs*>(context);
    CHECK(p->calls < PORT_TABLE_ENTRIES);
    CHECK(strcmp(comName, p->entries[p->calls].comName) == 0);
    CHECK(strncmp(nullName, "NULL_", 5) == 0 && strcmp(nullName + 5, comName) == 0);
    p->calls++;
}

// What the manager (or anyone) wrote before the restore: a few slots taken
// with ports of their own, and any bytes in slots that are not.
void fillTable(Reader* r)
{
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        if (dirty[i])
            memset(&table->entries[i], 0, HEADER);
        dirty[i] = false;
    }
    int writes = r->byte() % 16;
    for (int k = 0; k < writes; k++) {
        int slot = r->byte() % PORT_TABLE_ENTRIES;
        PortEntry* e = &table->entries[slot];
        dirty[slot] = true;
        switch (r->byte() % 4) {
        case 0: {
            char name[32];
            snprintf(name, sizeof name, "\\\\.\\NULL_COM%d", r->byte() % 8 + 1);
            writePortEntry(table, slot, name, "127.0.0.1", "9", "enable", "tcpc", "7001");
            break;
        }
        case 1:
            // A slot taken with any value.
            e->inUse = 0x01000000u * r->byte() + 1;
            break;
        default: {
            // Bytes in a slot, inUse included.
            size_t at = r->byte() % HEADER;
            size_t n = r->byte() % 48;
            for (size_t b = 0; b < n && at + b < HEADER; b++)
                reinterpret_cast<unsigned char*>(e)[at + b] = r->byte();
            break;
        }
        }
    }
}

bool allZero(const PortEntry* e)
{
    static const unsigned char zeros[HEADER] = {};
    return memcmp(e, zeros, HEADER) == 0;
}

uint32_t inUseBefore(int i)
{
    uint32_t inUse = 0;
    if (dirty[i])
        memcpy(&inUse, before[i] + offsetof(PortEntry, inUse), sizeof inUse);
    return inUse;
}

void checkRestore(const ConfigEntry* entries, int count, int written)
{
    int next = 0;
    int free = 0;
    for (int i = 0; i < PORT_TABLE_ENTRIES; i++) {
        const PortEntry* e = &table->entries[i];
        uint32_t inUse = inUseBefore(i);
        free += inUse == 0;
        if (inUse || next >= written) {
            // Taken before, or past what was restored: untouched.
            CHECK(dirty[i] ? memcmp(e, before[i], HEADER) == 0 : allZero(e));
            continue;
        }
        const ConfigEntry& c = entries[next++];
        CHECK(e->inUse == 1u);
        CHECK(strncmp(e->portName, PORT_NAME_PREFIX, sizeof PORT_NAME_PREFIX - 1) == 0);
        CHECK(strcmp(e->portName + sizeof PORT_NAME_PREFIX - 1, c.comName) == 0);
        CHECK(strcmp(e->remoteAddress, c.remoteAddress) == 0);
        CHECK(strcmp(e->remotePort, c.remotePort) == 0);
        CHECK(strcmp(e->protocol, c.protocol) == 0);
        CHECK(strcmp(e->localPort, c.localPort[0] ? c.localPort : "0") == 0);
        CHECK(e->command == (strcmp(c.stateWord, "enable") == 0 ? PORT_START : PORT_STOP));
        uint32_t present = 0;
        if (dirty[i])
            memcpy(&present, before[i] + offsetof(PortEntry, present), sizeof present);
        CHECK(e->present == present);
        dirty[i] = true;
    }
    CHECK(next == written);
    CHECK(written == (count < free ? count : free));
}

// readConfigLine with a small exact-size buffer over the whole file.
struct Rejections {
    int lastLine;
};

// Each refused line: numbered after the one before, a known reason, a COM
// name that is sound or empty and ends within its buffer.
void noteRejected(void* context, int lineNumber, int fault, const char* comName)
{
    Rejections* r = static_cast<Rejections*>(context);
    CHECK(lineNumber > r->lastLine);
    r->lastLine = lineNumber;
    CHECK(fault > CONFIG_FAULT_NONE && fault <= CONFIG_FAULT_FILE_TOO_BIG);
    CHECK(comName && memchr(comName, 0, COM_NAME_MAX + 1) != nullptr);
    CHECK(!*comName || isComPortName(comName));
}

void readLines(std::string_view file, size_t size)
{
    FILE* f = openInMemory(file);
    std::vector<char> line(size);
    char* buffer = line.data();
    size_t total = 0;
    for (;;) {
        size_t consumed = 0;
        int n = readConfigLine(f, buffer, size, &consumed);
        total += consumed;
        if (n == CONFIG_LINE_END) {
            CHECK(consumed == 0);
            break;
        }
        CHECK(consumed > 0 && consumed <= (size_t)CONFIG_READ_MAX);
        CHECK(n == CONFIG_LINE_TOO_LONG || (n >= 0 && (size_t)n < size && buffer[n] == '\0'));
    }
    CHECK(total == file.size());
    fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!table)
        table = static_cast<PortTable*>(calloc(1, sizeof(PortTable)));

    // One line as raw bytes, in an exact-size copy so a read past it is caught.
    {
        std::unique_ptr<char[]> line(new char[size]);   // never null, even when empty
        if (size)
            memcpy(line.get(), data, size);
        ConfigEntry e;
        char name[COM_NAME_MAX + 1];
        const int taken = parseConfigLine(line.get(), size, &e);
        if (taken)
            checkEntry(e);
        // The reason the host logs for a refused line agrees with the parser.
        const int fault = configLineFault(line.get(), size, name);
        CHECK((fault == CONFIG_FAULT_NONE) == (taken == 1));
        CHECK(memchr(name, 0, sizeof name) != nullptr);
    }

    Reader r = {data, size, 0};
    uint8_t mode = r.byte();
    size_t lead = 0;
    if (mode == 0xB5 && r.byte() == 0x1F) {
        // A file as large as the reader may look at, with the input's lines
        // around where it must stop. Reading one costs tens of milliseconds,
        // so while mutating only one run in ten thousand reads it that large;
        // the first thousand runs (a single input, the corpus, smallest first)
        // always do, so a regression input replays as it was found.
        uint8_t high = r.byte();
        uint8_t low = r.byte();
        if (runs < 1000 || runs % 10000 == 0)
            lead = (size_t)CONFIG_READ_MAX - 1 - (high * 256u + low) % 4096;
    }
    runs++;
    fillTable(&r);
    std::string_view file(reinterpret_cast<const char*>(data) + r.at, size - r.at);
    std::string large;
    if (lead) {
        large = std::string(lead - 1, 'x') + "\n" + std::string(file);
        file = large;
    } else if (mode < 0x40) {
        readLines(file, mode % 16 + 1);
    }

    // As the host reads it: every line left out is reported, for its log.
    FILE* f = openInMemory(file);
    ConfigEntry entries[PORT_TABLE_ENTRIES];
    Rejections rejections = {};
    ConfigReport report = {&rejections, noteRejected};
    int count = readConfigEntries(f, entries, PORT_TABLE_ENTRIES, &report);
    long looked = ftell(f);
    fclose(f);
    CHECK(count >= 0 && count <= PORT_TABLE_ENTRIES);
    // One byte past the limit at most: whether the file goes on.
    CHECK(looked >= 0 && looked <= CONFIG_READ_MAX + 1);
    bool named[257] = {};
    for (int i = 0; i < count; i++) {
        checkEntry(entries[i]);
        int n = comNumberOf(entries[i].comName);
        CHECK(!named[n]);   // no COM name twice
        named[n] = true;
    }
    checkFromFile(file, entries, count);

    Pairs pairs = {0, entries};
    createEntryPairs(entries, count, createPair, &pairs);
    CHECK(pairs.calls == count);

    for (int i = 0; i < PORT_TABLE_ENTRIES; i++)
        if (dirty[i])
            memcpy(before[i], &table->entries[i], HEADER);
    int written = restoreEntries(table, entries, count);
    checkRestore(entries, count, written);
    return 0;
}
