// The link state machine: what a port shows and does as its peer comes and goes.
#include <gtest/gtest.h>

#include <cstring>

#include "host/link_logic.h"
#include "tests/native/ports/table_fixture.h"

TEST(LinkSettingsText, PortNumbersAndFields)
{
    uint16_t port = 7;
    EXPECT_EQ(1, parsePortNumber("1", 0, &port));
    EXPECT_EQ(1, port);
    EXPECT_EQ(1, parsePortNumber("65535", 0, &port));
    EXPECT_EQ(65535, port);
    EXPECT_EQ(1, parsePortNumber("0", 1, &port));
    EXPECT_EQ(0, port);
    for (const char* bad : {"", "0", "65536", "99999", "123456", "-1", "+5", " 5", "5 ", "4001x", "0x10"})
        EXPECT_EQ(0, parsePortNumber(bad, 0, &port)) << bad;
    EXPECT_EQ(0, parsePortNumber(nullptr, 1, &port));

    TablePtr t = newTable();
    PortEntry* e = &t->entries[0];
    writePortEntry(t.get(), 0, "\\\\.\\NULL_COM5", "dev.example", "4001", "enable", "udp", "");
    LinkSettings s;
    ASSERT_EQ(1, readLinkSettings(e, &s));
    EXPECT_EQ(1, s.udp);
    EXPECT_STREQ("dev.example", s.host);
    EXPECT_EQ(4001, s.remotePort);
    EXPECT_EQ(0, s.localPort) << "an empty local port is any";

    writePortEntry(t.get(), 0, "\\\\.\\NULL_COM5", "10.231.1.1", "4001", "enable", "UDP", "6000");
    ASSERT_EQ(1, readLinkSettings(e, &s));
    EXPECT_EQ(0, s.udp) << "only the exact word udp selects UDP";
    EXPECT_EQ(6000, s.localPort);

    retargetPortEntry(t.get(), 0, "70000", "6000", "tcpc", "10.231.1.1");
    EXPECT_EQ(0, readLinkSettings(e, &s)) << "remote port out of range";
    retargetPortEntry(t.get(), 0, "4001", "x", "tcpc", "10.231.1.1");
    EXPECT_EQ(0, readLinkSettings(e, &s)) << "local port not a number";
    retargetPortEntry(t.get(), 0, "4001", "0", "tcpc", "");
    EXPECT_EQ(0, readLinkSettings(e, &s)) << "no address";

    // Fields without a terminator are read within their width only.
    memset(e->remoteAddress, 'a', sizeof e->remoteAddress);
    memset(e->remotePort, '1', sizeof e->remotePort);
    EXPECT_EQ(0, readLinkSettings(e, &s));
    memcpy(e->remotePort, "80", 3);
    ASSERT_EQ(1, readLinkSettings(e, &s));
    EXPECT_EQ(127u, strlen(s.host));
}

TEST(LinkBackOff, DoublesUpToItsBound)
{
    EXPECT_EQ(500, retryDelayMs(0));
    EXPECT_EQ(500, retryDelayMs(1));
    EXPECT_EQ(1000, retryDelayMs(2));
    EXPECT_EQ(2000, retryDelayMs(3));
    EXPECT_EQ(8000, retryDelayMs(5));
    EXPECT_EQ(8000, retryDelayMs(1000)) << "bounded, and no overflow";
}

TEST(LinkMachineTcp, ConnectsOnFirstTryShowingConnecting)
{
    LinkMachine m;
    EXPECT_EQ(LINK_DO_CLOSE | LINK_DO_RESOLVE, linkStart(&m, 0, 1, 1000));
    EXPECT_EQ(LINK_CONNECTING, m.state);
    EXPECT_EQ(LINK_DO_OPEN, linkResolved(&m, 1, 1010));
    EXPECT_EQ(LINK_CONNECTING, m.state);
    EXPECT_EQ(1010 + LINK_CONNECT_TIMEOUT_MS, linkNextDeadline(&m));
    EXPECT_FALSE(linkIsUp(&m));
    EXPECT_EQ(LINK_DO_NOTHING, linkOpened(&m));
    EXPECT_EQ(LINK_CONNECTED, m.state);
    EXPECT_EQ(LINK_DETAIL_NONE, m.detail);
    EXPECT_TRUE(linkIsUp(&m));
    EXPECT_EQ(-1, linkNextDeadline(&m)) << "nothing to time while up";
    EXPECT_EQ(LINK_DO_NOTHING, linkTick(&m, 999999));
}

TEST(LinkMachineTcp, RefusedThenRetriedWithGrowingWaitsUntilThePeerIsBack)
{
    LinkMachine m;
    linkStart(&m, 0, 1, 0);
    linkResolved(&m, 1, 0);
    EXPECT_EQ(LINK_DO_CLOSE, linkFailed(&m, LINK_DETAIL_REFUSED, 10));
    EXPECT_EQ(LINK_FAILED, m.state);
    EXPECT_EQ(LINK_DETAIL_REFUSED, m.detail);
    EXPECT_EQ(10 + 500, linkNextDeadline(&m));

    EXPECT_EQ(LINK_DO_NOTHING, linkTick(&m, 509));
    EXPECT_EQ(LINK_DO_RESOLVE, linkTick(&m, 510));
    EXPECT_EQ(LINK_FAILED, m.state) << "a retry keeps showing the failure";
    linkResolved(&m, 1, 510);
    linkFailed(&m, LINK_DETAIL_REFUSED, 520);
    EXPECT_EQ(520 + 1000, linkNextDeadline(&m));
    // A repeated failure report for the same attempt changes nothing.
    EXPECT_EQ(LINK_DO_NOTHING, linkFailed(&m, LINK_DETAIL_NETWORK, 530));
    EXPECT_EQ(520 + 1000, linkNextDeadline(&m));

    int64_t now = 1520;
    for (int i = 0; i < 10; i++) {
        ASSERT_EQ(LINK_DO_RESOLVE, linkTick(&m, now));
        linkResolved(&m, 1, now);
        linkFailed(&m, LINK_DETAIL_REFUSED, now);
        EXPECT_LE(linkNextDeadline(&m) - now, LINK_RETRY_MAX_MS);
        now = linkNextDeadline(&m);
    }
    EXPECT_EQ(LINK_RETRY_MAX_MS, retryDelayMs(m.failures));

    linkTick(&m, now);
    linkResolved(&m, 1, now);
    linkOpened(&m);
    EXPECT_EQ(LINK_CONNECTED, m.state);
    EXPECT_EQ(0, m.failures) << "the next drop starts the waits afresh";
}

TEST(LinkMachineTcp, SilentPeerTimesOut)
{
    LinkMachine m;
    linkStart(&m, 0, 1, 0);
    linkResolved(&m, 1, 100);
    EXPECT_EQ(LINK_DO_NOTHING, linkTick(&m, 100 + LINK_CONNECT_TIMEOUT_MS - 1));
    EXPECT_EQ(LINK_DO_CLOSE, linkTick(&m, 100 + LINK_CONNECT_TIMEOUT_MS));
    EXPECT_EQ(LINK_FAILED, m.state);
    EXPECT_EQ(LINK_DETAIL_TIMEOUT, m.detail);
    // A connection that completes after it was given up is not taken.
    EXPECT_EQ(LINK_DO_NOTHING, linkOpened(&m));
    EXPECT_EQ(LINK_FAILED, m.state);
}

TEST(LinkMachineTcp, DroppedLinkShowsDisconnectedThenFailedRetriesThenConnected)
{
    LinkMachine m;
    linkStart(&m, 0, 1, 0);
    linkResolved(&m, 1, 0);
    linkOpened(&m);
    EXPECT_EQ(LINK_DO_CLOSE, linkPeerClosed(&m, 5000));
    EXPECT_EQ(LINK_DISCONNECTED, m.state);
    EXPECT_EQ(LINK_DETAIL_PEER_CLOSED, m.detail);
    // Long enough to be seen in a list refreshed every 100 ms.
    EXPECT_GE(linkNextDeadline(&m) - 5000, 1000);
    EXPECT_EQ(LINK_DO_NOTHING, linkPeerClosed(&m, 5001)) << "only an up link can drop";

    int64_t now = linkNextDeadline(&m);
    ASSERT_EQ(LINK_DO_RESOLVE, linkTick(&m, now));
    EXPECT_EQ(LINK_DISCONNECTED, m.state) << "still the last news during the retry";
    linkResolved(&m, 1, now);
    linkFailed(&m, LINK_DETAIL_REFUSED, now);
    EXPECT_EQ(LINK_FAILED, m.state);

    now = linkNextDeadline(&m);
    linkTick(&m, now);
    linkResolved(&m, 1, now);
    linkOpened(&m);
    EXPECT_EQ(LINK_CONNECTED, m.state);

    // An error on an established connection is a drop too.
    EXPECT_EQ(LINK_DO_CLOSE, linkFailed(&m, LINK_DETAIL_NETWORK, now + 10));
    EXPECT_EQ(LINK_DISCONNECTED, m.state);
}

TEST(LinkMachineTcp, UnresolvedNamesAreRetried)
{
    LinkMachine m;
    linkStart(&m, 0, 1, 0);
    EXPECT_EQ(LINK_DO_CLOSE, linkResolved(&m, 0, 50));
    EXPECT_EQ(LINK_FAILED, m.state);
    EXPECT_EQ(LINK_DETAIL_NO_ADDRESS, m.detail);
    EXPECT_EQ(LINK_DO_RESOLVE, linkTick(&m, linkNextDeadline(&m)));
    // A lookup answered after a stop is dropped.
    linkStop(&m);
    EXPECT_EQ(LINK_DO_NOTHING, linkResolved(&m, 1, 600));
    EXPECT_EQ(LINK_STOPPED, m.state);
}

TEST(LinkMachine, StopHaltAndBadSettings)
{
    LinkMachine m;
    linkStart(&m, 0, 1, 0);
    linkResolved(&m, 1, 0);
    linkOpened(&m);
    EXPECT_EQ(LINK_DO_CLOSE, linkStop(&m));
    EXPECT_EQ(LINK_STOPPED, m.state);
    EXPECT_EQ(-1, linkNextDeadline(&m));
    EXPECT_EQ(LINK_DO_NOTHING, linkTick(&m, 1 << 30)) << "a stopped link never retries";
    EXPECT_EQ(LINK_DO_NOTHING, linkFailed(&m, LINK_DETAIL_REFUSED, 5));
    EXPECT_EQ(LINK_STOPPED, m.state);

    // Settings that cannot work fail once and wait for a restart.
    EXPECT_EQ(LINK_DO_CLOSE, linkStart(&m, 0, 0, 0));
    EXPECT_EQ(LINK_FAILED, m.state);
    EXPECT_EQ(LINK_DETAIL_BAD_SETTINGS, m.detail);
    EXPECT_EQ(-1, linkNextDeadline(&m));

    // A restart starts from scratch, showing Connecting again.
    linkStart(&m, 0, 1, 0);
    linkResolved(&m, 1, 0);
    linkFailed(&m, LINK_DETAIL_REFUSED, 0);
    linkStart(&m, 0, 1, 10);
    EXPECT_EQ(LINK_CONNECTING, m.state);
    EXPECT_EQ(0, m.failures);

    linkHalt(&m, LINK_DETAIL_SERIAL_LOST);
    EXPECT_EQ(LINK_FAILED, m.state);
    EXPECT_EQ(LINK_DETAIL_SERIAL_LOST, m.detail);
    EXPECT_EQ(-1, linkNextDeadline(&m));
}

TEST(LinkMachineUdp, BoundIsConnectedAndHasNoConnectTimeout)
{
    LinkMachine m;
    linkStart(&m, 1, 1, 0);
    EXPECT_EQ(LINK_DO_OPEN, linkResolved(&m, 1, 0));
    EXPECT_EQ(-1, linkNextDeadline(&m));
    EXPECT_EQ(LINK_DO_NOTHING, linkTick(&m, 60000));
    linkOpened(&m);
    EXPECT_EQ(LINK_CONNECTED, m.state);

    // A local port in use fails the bind, and is retried.
    linkStart(&m, 1, 1, 0);
    linkResolved(&m, 1, 0);
    linkFailed(&m, LINK_DETAIL_BIND, 0);
    EXPECT_EQ(LINK_FAILED, m.state);
    EXPECT_EQ(LINK_DETAIL_BIND, m.detail);
    EXPECT_EQ(LINK_DO_RESOLVE, linkTick(&m, 500));
}
