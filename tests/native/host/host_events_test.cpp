// What the host tells the Application log: the sentences of its message
// table with their strings, once per failure streak, and never a flood.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_events.h"
#include "host/link_logic.h"
#include "ports/config_read.h"
#include "tests/native/ports/table_fixture.h"

namespace {

struct Message {
    std::string severity;
    std::string text;
};

// host_messages.mc as windmc reads it: MessageId, Severity, the English text.
std::map<int, Message> readMessageFile()
{
    std::ifstream in(HOST_MESSAGES_MC);
    std::map<int, Message> out;
    std::string line, severity;
    int id = -1;
    bool inText = false;
    std::string text;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (inText) {
            if (line == ".") {
                out[id] = {severity, text};
                inText = false;
            } else {
                text += (text.empty() ? "" : "\r\n") + line;
            }
        } else if (line.rfind("MessageId=", 0) == 0) {
            id = std::stoi(line.substr(10));
        } else if (line.rfind("Severity=", 0) == 0) {
            severity = line.substr(9);
        } else if (line.rfind("Language=", 0) == 0) {
            inText = true;
            text.clear();
        }
    }
    return out;
}

const std::map<int, Message>& messages()
{
    static std::map<int, Message> m = readMessageFile();
    return m;
}

struct Recorder {
    std::vector<HostEvent> events;
    HostEventLog log;
    Recorder() { initHostEvents(&log, HostEventSink{this, record}); }
    static void record(void* c, const HostEvent* e) { static_cast<Recorder*>(c)->events.push_back(*e); }
    // The sentence the Event Viewer shows for event k.
    std::string text(size_t k) const
    {
        auto m = messages().find(events.at(k).id);
        if (m == messages().end())
            return "no message " + std::to_string(events.at(k).id);
        char out[2048];
        renderHostEvent(m->second.text.c_str(), &events.at(k), out, sizeof out);
        return out;
    }
    std::vector<int> ids() const
    {
        std::vector<int> v;
        for (auto& e : events)
            v.push_back(e.id);
        return v;
    }
};

const char* const INI = "C:\\windows\\parlo.ini";

}  // namespace

// Every event the host raises has its sentence in the message table, with
// the severity the host reports it under and a string for every insert.
TEST(HostEvents, EveryEventHasItsSentenceWithEveryInsertFilled)
{
    ASSERT_EQ(13u, messages().size()) << "host_messages.mc not read from " << HOST_MESSAGES_MC;
    TablePtr t = newTable();
    makePresent(t.get(), 3, "COM7");
    PortEntry* e = &t->entries[3];
    Recorder r;
    hostEventStarted(&r.log, INI, 2, 5);
    hostEventStopping(&r.log, 7);
    hostEventConfigLine(&r.log, INI, 4, CONFIG_FAULT_STATE, "COM9");
    hostEventConfigLine(&r.log, INI, 5, CONFIG_FAULT_NOT_ENTRY, "");
    hostEventFarEnd(&r.log, 3, e, 0, 2, "The system cannot find the file specified", 0);
    hostEventLink(&r.log, 3, e, LINK_FAILED, LINK_DETAIL_REFUSED, 0);
    hostEventLink(&r.log, 3, e, LINK_CONNECTED, 0, 0);
    storeField(e->remotePort, sizeof e->remotePort, "70000");
    hostEventLink(&r.log, 3, e, LINK_FAILED, LINK_DETAIL_BAD_SETTINGS, 0);
    e->command = 9;
    hostEventCommand(&r.log, 3, e, 1, 0);
    hostEventCapture(&r.log, 3, e, 7, 0);
    storeField(e->portName, sizeof e->portName, "\\\\.\\NULL_LPT1");
    hostEventTakenUp(&r.log, 3, e, 0);
    for (int i = 0; i < HOST_CONFIG_EVENTS_MAX + 2; i++)
        hostEventConfigLine(&r.log, INI, 10 + i, CONFIG_FAULT_FIELDS, "");
    hostEventConfigDone(&r.log, INI);
    for (int i = 0; i < 2 * HOST_EVENT_BURST; i++)
        hostEventCapture(&r.log, 3, e, 8, HOST_EVENT_REFILL_MS);
    hostEventCapture(&r.log, 3, e, 8, 10 * HOST_EVENT_REFILL_MS);
    for (int id = HOST_EVENT_STARTED; id <= HOST_EVENT_SUPPRESSED; id++) {
        size_t k = 0;
        while (k < r.events.size() && r.events[k].id != id)
            k++;
        ASSERT_LT(k, r.events.size()) << "event " << id << " never raised";
        const Message& m = messages().at(id);
        static const char* const severities[] = {"", "Informational", "Warning", "Error"};
        EXPECT_EQ(severities[r.events[k].type], m.severity) << "event " << id;
        int highest = 0;
        for (size_t p = m.text.find('%'); p != std::string::npos; p = m.text.find('%', p + 1))
            if (p + 1 < m.text.size() && m.text[p + 1] >= '1' && m.text[p + 1] <= '9')
                highest = std::max(highest, m.text[p + 1] - '0');
        EXPECT_EQ(highest, r.events[k].stringCount) << "event " << id << ": " << r.text(k);
    }
}

// The sentences as an administrator reads them in the Event Viewer.
TEST(HostEvents, SentencesSayWhatHappenedAndWhatToDo)
{
    TablePtr t = newTable();
    makePresent(t.get(), 0, "COM77");
    PortEntry* e = &t->entries[0];
    Recorder r;
    hostEventStarted(&r.log, INI, 3, 0);
    hostEventConfigLine(&r.log, INI, 4, CONFIG_FAULT_REPEATED, "COM5");
    hostEventConfigLine(&r.log, INI, 9, CONFIG_FAULT_TOO_LONG, "");
    hostEventFarEnd(&r.log, 0, e, 0, 2, "The system cannot find the file specified", 0);
    hostEventLink(&r.log, 0, e, LINK_FAILED, LINK_DETAIL_TIMEOUT, 0);
    hostEventLink(&r.log, 0, e, LINK_CONNECTED, 0, 0);
    storeField(e->localPort, sizeof e->localPort, "x1");
    hostEventLink(&r.log, 0, e, LINK_FAILED, LINK_DETAIL_BAD_SETTINGS, 0);
    ASSERT_EQ(7u, r.events.size());
    EXPECT_EQ("The PARLOSVR service started. It restored 3 ports from C:\\windows\\parlo.ini and took over 0 ports "
              "from a port table that was still open.",
              r.text(0));
    EXPECT_EQ("Line 4 of C:\\windows\\parlo.ini, for COM5, was not restored: an earlier line has the same COM "
              "name.",
              r.text(1));
    EXPECT_EQ("Line 9 of C:\\windows\\parlo.ini was not restored: the line is longer than 512 characters.",
              r.text(2));
    EXPECT_EQ("COM77 carries no data: PARLOSVR cannot open its far end \\\\.\\NULL_COM77 (error 2: The system "
              "cannot find the file specified). The virtual serial port driver seems not to be installed, or "
              "the pair of COM77 is missing. Install the virtual serial port driver, or delete COM77 in ParloMgr "
              "and create it again so that the driver is asked for its pair. PARLOSVR keeps trying to open it.",
              r.text(3));
    EXPECT_EQ(HOST_EVENT_ERROR, r.events[3].type);
    EXPECT_EQ("The link of COM77 to 192.0.2.7:502 (TCP) failed: the device did not answer in time. PARLOSVR keeps "
              "trying to connect and logs again when the link is back.",
              r.text(4));
    EXPECT_EQ("The link of COM77 to 192.0.2.7:502 (TCP) is back.", r.text(5));
    EXPECT_EQ("COM77 cannot connect: its local port \"x1\" is not a number from 0 to 65535. Correct the port's "
              "settings in ParloMgr; PARLOSVR tries again when they change.",
              r.text(6));
}

// A failure is told once per streak, however often the retries fail and
// whatever they say; the return of the link ends the streak.
TEST(HostEvents, LinkFailureOncePerStreakAndAgainWhenBack)
{
    TablePtr t = newTable();
    makePresent(t.get(), 1, "COM5");
    PortEntry* e = &t->entries[1];
    Recorder r;
    auto state = [&](uint32_t s, uint32_t d) { hostEventLink(&r.log, 1, e, s, d, 0); };
    state(LINK_CONNECTING, 0);
    state(LINK_FAILED, LINK_DETAIL_REFUSED);
    state(LINK_FAILED, LINK_DETAIL_TIMEOUT);
    state(LINK_FAILED, LINK_DETAIL_REFUSED);
    EXPECT_EQ(std::vector<int>{HOST_EVENT_LINK_FAILED}, r.ids());
    state(LINK_CONNECTED, 0);
    state(LINK_CONNECTED, 0);
    EXPECT_EQ((std::vector<int>{HOST_EVENT_LINK_FAILED, HOST_EVENT_LINK_BACK}), r.ids());

    // A dropped connection starts a new streak; its failed retries add nothing.
    state(LINK_DISCONNECTED, LINK_DETAIL_PEER_CLOSED);
    state(LINK_FAILED, LINK_DETAIL_REFUSED);
    state(LINK_CONNECTED, 0);
    EXPECT_EQ(4u, r.events.size());
    EXPECT_NE(std::string::npos, r.text(2).find("the device closed the connection"));

    // Stopped in the middle of a streak: no "back"; after a start, a failure is news.
    state(LINK_FAILED, LINK_DETAIL_NO_ADDRESS);
    state(LINK_STOPPED, 0);
    state(LINK_CONNECTING, 0);
    state(LINK_CONNECTED, 0);
    EXPECT_EQ(5u, r.events.size());
    state(LINK_FAILED, LINK_DETAIL_BIND);
    EXPECT_EQ(6u, r.events.size());

    // A link that never failed comes up without a word; a lost serial side is
    // the far end's to tell.
    Recorder quiet;
    hostEventLink(&quiet.log, 1, e, LINK_CONNECTING, 0, 0);
    hostEventLink(&quiet.log, 1, e, LINK_CONNECTED, 0, 0);
    hostEventLink(&quiet.log, 1, e, LINK_FAILED, LINK_DETAIL_SERIAL_LOST, 0);
    EXPECT_TRUE(quiet.events.empty());
}

TEST(HostEvents, FarEndOnceUntilItOpensAndRefusedCommandsOncePerValue)
{
    TablePtr t = newTable();
    makePresent(t.get(), 2, "COM9");
    PortEntry* e = &t->entries[2];
    Recorder r;
    for (int i = 0; i < 5; i++)
        hostEventFarEnd(&r.log, 2, e, 0, 2, "", i * 500);
    hostEventFarEnd(&r.log, 2, e, 1, 0, "", 3000);
    hostEventFarEnd(&r.log, 2, e, 0, 5, "", 4000);
    EXPECT_EQ((std::vector<int>{HOST_EVENT_FAR_END, HOST_EVENT_FAR_END}), r.ids());
    EXPECT_NE(std::string::npos, r.text(1).find("(error 5)"));

    r.events.clear();
    e->command = 77;
    hostEventCommand(&r.log, 2, e, 0, 0);
    hostEventCommand(&r.log, 2, e, 0, 20);
    e->command = -1;
    hostEventCommand(&r.log, 2, e, 0, 40);
    e->command = PORT_START;
    hostEventCommand(&r.log, 2, e, 1, 60);
    e->command = 77;
    hostEventCommand(&r.log, 2, e, 1, 80);
    e->inUse = 0;
    e->command = 55;
    hostEventCommand(&r.log, 2, e, 0, 100);
    ASSERT_EQ(3u, r.events.size()) << "once per value, again after a known one, never for an unused entry";
    EXPECT_EQ("Table entry 2 (COM9) holds the request 77, which PARLOSVR does not know (1 start, 2 stop, 3 "
              "restart, 4 delete). PARLOSVR does not take the port up.",
              r.text(0));
    EXPECT_NE(std::string::npos, r.text(2).find("keeps the port enabled"));

    // A port name the host does not open is named by its table entry, its
    // text made safe to show.
    r.events.clear();
    storeField(e->portName, sizeof e->portName, "\\\\.\\NULL_COM0\x01\x1b");
    hostEventTakenUp(&r.log, 2, e, 0);
    storeField(e->portName, sizeof e->portName, "\\\\.\\NULL_COM9");
    hostEventTakenUp(&r.log, 2, e, 0);
    ASSERT_EQ(1u, r.events.size());
    EXPECT_EQ("Table entry 2 names its port \"\\\\.\\NULL_COM0??\", which is not a far end PARLOSVR opens "
              "(\\\\.\\NULL_COM1 to \\\\.\\NULL_COM256). The entry is listed but carries no data; delete it in "
              "ParloMgr.",
              r.text(0));
}

// A port that flaps logs its first events, then one every five minutes, and
// says how many it left out; other ports are not held back by it.
TEST(HostEvents, EachPortIsBoundedAndToldWhatWasLeftOut)
{
    TablePtr t = newTable();
    makePresent(t.get(), 0, "COM5");
    makePresent(t.get(), 1, "COM6");
    Recorder r;
    int64_t now = 1000;
    for (int i = 0; i < 500; i++, now += 100) {
        hostEventLink(&r.log, 0, &t->entries[0], LINK_DISCONNECTED, LINK_DETAIL_PEER_CLOSED, now);
        hostEventLink(&r.log, 0, &t->entries[0], LINK_CONNECTED, 0, now);
    }
    EXPECT_EQ((size_t)HOST_EVENT_BURST, r.events.size()) << "50 s of flapping";
    hostEventLink(&r.log, 1, &t->entries[1], LINK_FAILED, LINK_DETAIL_REFUSED, now);
    EXPECT_EQ(HOST_EVENT_LINK_FAILED, r.events.back().id);
    EXPECT_EQ(1, r.events.back().port);

    // Five minutes after the burst began, one more passes, after the summary.
    size_t before = r.events.size();
    now = 1000 + HOST_EVENT_REFILL_MS;
    hostEventLink(&r.log, 0, &t->entries[0], LINK_DISCONNECTED, LINK_DETAIL_PEER_CLOSED, now);
    hostEventLink(&r.log, 0, &t->entries[0], LINK_CONNECTED, 0, now);
    ASSERT_EQ(before + 2, r.events.size());
    EXPECT_EQ(HOST_EVENT_SUPPRESSED, r.events[before].id);
    EXPECT_EQ("990 events of COM5 were not logged. PARLOSVR logs at most 10 events of a port at a time, then one "
              "every 5 minutes.",
              r.text(before));
    EXPECT_EQ(HOST_EVENT_LINK_FAILED, r.events[before + 1].id);

    // A quiet port earns its whole burst back.
    r.events.clear();
    now += (int64_t)HOST_EVENT_BURST * HOST_EVENT_REFILL_MS;
    for (int i = 0; i < 20; i++, now++) {
        hostEventLink(&r.log, 0, &t->entries[0], LINK_DISCONNECTED, LINK_DETAIL_PEER_CLOSED, now);
        hostEventLink(&r.log, 0, &t->entries[0], LINK_CONNECTED, 0, now);
    }
    EXPECT_EQ((size_t)HOST_EVENT_BURST + 1, r.events.size()) << "a summary of the one left out, then the burst";

    // Lines of parlo.ini: the first 16 per start, then how many more.
    Recorder lines;
    for (int i = 1; i <= 1000; i++)
        hostEventConfigLine(&lines.log, INI, i, CONFIG_FAULT_NOT_ENTRY, "");
    hostEventConfigDone(&lines.log, INI);
    ASSERT_EQ((size_t)HOST_CONFIG_EVENTS_MAX + 1, lines.events.size());
    EXPECT_EQ("984 more lines of C:\\windows\\parlo.ini were not restored. Only the first 16 lines that cannot be "
              "restored are logged each time the service starts.",
              lines.text(HOST_CONFIG_EVENTS_MAX));
}
