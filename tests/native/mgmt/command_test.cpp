// The request-authenticate-retry exchange over a scripted transport.
#include <gtest/gtest.h>

#include "mgmt/credentials.h"
#include "mgmt/device_command.h"
#include "mgmt_test_util.h"

namespace {

// Answers the n-th request with the n-th list of replies.
struct FakeLink {
    bool openFails = false;
    int opened = 0, closed = 0;
    std::vector<Bytes> sent;
    std::vector<std::vector<Bytes>> answers;
    ScriptedReceiver current;

    static int open(void* c)
    {
        FakeLink* self = (FakeLink*)c;
        if (self->openFails)
            return 0;
        self->opened++;
        return 1;
    }
    static void send(void* c, const uint8_t* d, int n)
    {
        FakeLink* self = (FakeLink*)c;
        self->current = ScriptedReceiver();
        if (self->sent.size() < self->answers.size())
            self->current.queue = self->answers[self->sent.size()];
        self->sent.push_back(Bytes(d, d + n));
    }
    static int receive(void* c, uint8_t* b, int cap)
    {
        return ScriptedReceiver::receive(&((FakeLink*)c)->current, b, cap);
    }
    static void close(void* c)
    {
        ((FakeLink*)c)->closed++;
    }
    MgmtTransport transport()
    {
        return MgmtTransport{this, open, send, receive, close};
    }
};

// Plays the Authentication dialog: sets the given credentials or cancels.
struct FakeDialog {
    std::vector<std::pair<std::string, std::string>> entries;  // empty user+pass "!" = cancel
    int shown = 0;
    static int authenticate(void* c)
    {
        FakeDialog* self = (FakeDialog*)c;
        memset(deviceUserName, 0, sizeof deviceUserName);
        memset(devicePassword, 0, sizeof devicePassword);
        if (self->shown >= (int)self->entries.size())
            return 0;
        auto e = self->entries[self->shown++];
        if (e.second == "!")
            return 0;
        strncpy(deviceUserName, e.first.c_str(), 15);
        strncpy(devicePassword, e.second.c_str(), 15);
        return 1;
    }
};

class DeviceCommand : public ::testing::Test {
protected:
    DeviceRecord device = {};
    uint8_t argument = 1;
    MgmtCommand command = {};
    SerialPortConfig configs[MAX_DEVICE_PORTS];
    int count = -1;
    FakeLink link;
    FakeDialog dialog;
    MgmtCommandResult result = {};

    void SetUp() override
    {
        memcpy(device.serialNumber, "DEV000000042", 12);
        command = MgmtCommand{MGMT_REBOOT, &device, &argument, 1, RECEIVE_STATUS, nullptr, 0, nullptr};
    }
    void TearDown() override
    {
        strcpy(deviceUserName, "tolmo");
        strcpy(devicePassword, "tolmo");
    }
    int run()
    {
        MgmtTransport t = link.transport();
        return runDeviceCommand(&t, &command, FakeDialog::authenticate, &dialog, &result);
    }
    Bytes status(uint32_t s)
    {
        return datagram(MGMT_STATUS_REPLY, statusPayload("DEV000000042", s));
    }
    std::string digestOf(size_t request)
    {
        return hex(link.sent.at(request).data() + 20, 16);
    }
};

}  // namespace

TEST_F(DeviceCommand, ConfirmedAtOnce)
{
    link.answers = {{status(0)}};
    EXPECT_EQ(1, run());
    EXPECT_EQ(COMMAND_DONE, result.result);
    ASSERT_EQ(1u, link.sent.size());
    EXPECT_EQ(37u, link.sent[0].size());
    EXPECT_EQ(1, link.sent[0][36]);
    EXPECT_EQ(0, dialog.shown);
    EXPECT_EQ(1, link.opened);
    EXPECT_EQ(1, link.closed);
}

TEST_F(DeviceCommand, SocketFailureSendsNothing)
{
    link.openFails = true;
    EXPECT_EQ(0, run());
    EXPECT_EQ(COMMAND_NO_SOCKET, result.result);
    EXPECT_TRUE(link.sent.empty());
    EXPECT_EQ(0, link.closed);
}

TEST_F(DeviceCommand, FailuresCarryOutcomeAndStatus)
{
    link.answers = {{}};
    EXPECT_EQ(0, run());
    EXPECT_EQ(COMMAND_FAILED, result.result);
    EXPECT_EQ(1, result.outcome);

    link = FakeLink();
    link.answers = {{status(2)}};
    EXPECT_EQ(0, run());
    EXPECT_EQ(COMMAND_FAILED, result.result);
    EXPECT_EQ(0, result.outcome);
    EXPECT_EQ(2u, result.status);
    EXPECT_EQ(1, link.closed);

    link = FakeLink();
    link.answers = {{datagram(MGMT_STATUS_REPLY, statusPayload("DEV000000043", 0)), status(0)}};
    EXPECT_EQ(0, run());
    EXPECT_EQ(3, result.outcome);
    EXPECT_EQ(0, dialog.shown);
}

TEST_F(DeviceCommand, AuthenticationRetriesWithTheNewDigestThenCancel)
{
    link.answers = {{status(1)}, {status(1)}, {status(0)}};
    dialog.entries = {{"admin", "s3cret"}, {"", "!"}};
    EXPECT_EQ(0, run());
    EXPECT_EQ(COMMAND_CANCELLED, result.result);
    ASSERT_EQ(2u, link.sent.size());
    EXPECT_EQ("c677aaaa435000708ba5dd50ccc3affc", digestOf(0));
    EXPECT_EQ("746191178e1c6338963e56d15589dc4b", digestOf(1));
    EXPECT_EQ(2, dialog.shown);
    EXPECT_EQ(1, link.closed);
    // Cancelling left the credentials empty: the next request digests "::" around the realm.
    EXPECT_STREQ("", deviceUserName);
    link = FakeLink();
    link.answers = {{status(0)}};
    EXPECT_EQ(1, run());
    EXPECT_EQ("99b9e831884e2834356efe90aebdf5be", digestOf(0));
}

TEST_F(DeviceCommand, AuthenticationThenSuccess)
{
    link.answers = {{status(1)}, {status(0)}};
    dialog.entries = {{"admin", "s3cret"}};
    EXPECT_EQ(1, run());
    EXPECT_EQ(2, result.requestsSent);
    EXPECT_EQ(link.sent[0].size(), link.sent[1].size());
    // Same request apart from the digest (and so the CRC).
    EXPECT_EQ(0, memcmp(link.sent[0].data() + 8, link.sent[1].data() + 8, 12));
    EXPECT_EQ(0, memcmp(link.sent[0].data() + 36, link.sent[1].data() + 36, 1));
}

TEST_F(DeviceCommand, EndlessAuthenticationIsBounded)
{
    for (int i = 0; i < MGMT_MAX_AUTH_ROUNDS + 10; i++) {
        link.answers.push_back({status(1)});
        dialog.entries.push_back({"u", "p"});
    }
    EXPECT_EQ(0, run());
    EXPECT_EQ(COMMAND_FAILED, result.result);
    EXPECT_EQ(MGMT_MAX_AUTH_ROUNDS + 1, result.requestsSent);
    EXPECT_EQ(1u, result.status);
}

TEST_F(DeviceCommand, ConfigQueryFillsTheTable)
{
    argument = 0;
    command = MgmtCommand{MGMT_GET_SERIAL_CONFIG, &device, &argument, 1, RECEIVE_CONFIG, configs, MAX_DEVICE_PORTS,
                          &count};
    link.answers = {{status(1)}, {datagram(MGMT_SERIAL_CONFIG_REPLY, listPayload("DEV000000042", 3))}};
    dialog.entries = {{"a", "b"}};
    EXPECT_EQ(1, run());
    EXPECT_EQ(3, count);
    EXPECT_EQ(0u, result.status);

    // A socket that cannot be opened leaves the last list as it was.
    link = FakeLink();
    link.openFails = true;
    EXPECT_EQ(0, run());
    EXPECT_EQ(3, count);
    EXPECT_NE(0, configs[2].devicePort);

    // A plain status 0 also succeeds, leaving an empty list.
    link = FakeLink();
    link.answers = {{status(0)}};
    EXPECT_EQ(1, run());
    EXPECT_EQ(0, count);
    EXPECT_EQ(0, configs[0].devicePort);

    // A malformed list is outcome 4.
    link = FakeLink();
    Bytes odd = listPayload("DEV000000042", 1);
    odd.push_back(1);
    link.answers = {{datagram(MGMT_SERIAL_CONFIG_REPLY, odd)}};
    EXPECT_EQ(0, run());
    EXPECT_EQ(4, result.outcome);
}
