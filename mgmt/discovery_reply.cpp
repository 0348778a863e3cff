// Validation of discovery replies and the loop that gathers them.
#include "mgmt/discovery_reply.h"

#include <cstring>

#include "mgmt/crc32.h"
#include "mgmt/mgmt_packet.h"

int takeDiscoveryReply(const uint8_t* datagram, int received, DeviceRecord* record)
{
    if (received < MGMT_HEADER_SIZE || received > MGMT_MAX_DATAGRAM)
        return 0;
    int length = getLe16(datagram + 2);
    int arrived = received - MGMT_HEADER_SIZE;
    // A length past what arrived cannot be checked, so it is taken as corrupt.
    if (length > arrived)
        return 0;
    if (crc32(datagram + MGMT_HEADER_SIZE, (size_t)length) != getLe32(datagram + 4))
        return 0;
    if (getLe16(datagram) != MGMT_DISCOVER_REPLY)
        return 0;
    memset(record, 0, sizeof *record);
    int take = arrived < (int)sizeof *record ? arrived : (int)sizeof *record;
    memcpy(record, datagram + MGMT_HEADER_SIZE, (size_t)take);
    return 1;
}

int collectDiscoveryReplies(MgmtReceiveFn receive, void* receiveContext, DiscoveryReplyFn onReply,
                            void* replyContext)
{
    uint8_t buffer[MGMT_MAX_DATAGRAM];
    int taken = 0;
    for (int i = 0; i < MGMT_MAX_DISCOVERY_DATAGRAMS; i++) {
        memset(buffer, 0, sizeof buffer);
        int received = receive(receiveContext, buffer, (int)sizeof buffer);
        if (received < 0)
            break;
        DeviceRecord record;
        if (!takeDiscoveryReply(buffer, received, &record))
            continue;
        taken++;
        if (!onReply(replyContext, &record))
            break;
    }
    return taken;
}
