// Taking device descriptions out of discovery replies.
#pragma once

#include <cstdint>

#include "mgmt/device_records.h"
#include "mgmt/mgmt_receive.h"

// 1 when the datagram of `received` bytes is a discovery reply whose CRC
// checks; `record` then holds the 112 bytes from the payload start, with
// bytes that did not arrive set to zero. 0 when it is to be ignored.
int takeDiscoveryReply(const uint8_t* datagram, int received, DeviceRecord* record);

// Called for each valid reply in arrival order; returns 1 to go on
// listening, 0 to end the discovery.
typedef int (*DiscoveryReplyFn)(void* context, const DeviceRecord* record);

// Bounds one discovery against a network that never falls silent.
enum { MGMT_MAX_DISCOVERY_DATAGRAMS = 16384 };

// Receives until a wait times out (or fails), handing each valid reply to
// `onReply`. Returns the number of replies handed over.
int collectDiscoveryReplies(MgmtReceiveFn receive, void* receiveContext, DiscoveryReplyFn onReply,
                            void* replyContext);
