// Fuzz target: status and serial-port-list reply classification, and the receive loops over split input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mgmt/device_records.h"
#include "mgmt/fuzz/fuzz_pieces.h"
#include "mgmt/mgmt_receive.h"

namespace {

const uint8_t kSerial[12] = {'F', 'U', 'Z', 'Z', 'S', 'E', 'R', 'I', 'A', 'L', '0', '1'};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size heap copy, so any read past the datagram is caught.
    std::vector<uint8_t> datagram(data, data + size);
    int received = (int)(size > 2048 ? 2048 : size);
    uint32_t status = 0;
    SerialPortConfig configs[MAX_DEVICE_PORTS];
    int count = -1;

    int outcome = classifyStatusReply(datagram.data(), received, kSerial, &status);
    if (outcome < MGMT_SKIP || outcome > MGMT_OUTCOME_OTHER_DEVICE)
        __builtin_trap();
    outcome = classifyConfigReply(datagram.data(), received, kSerial, &status, configs, 4, &count);
    if (outcome < MGMT_SKIP || outcome > MGMT_OUTCOME_BAD_LIST)
        __builtin_trap();
    if (outcome == MGMT_OUTCOME_OK && count > 4)
        __builtin_trap();

    Pieces pieces = {data, size, 0};
    outcome = receiveStatusReplyFrom(Pieces::receive, &pieces, kSerial, &status);
    if (outcome < 0 || outcome > MGMT_OUTCOME_OTHER_DEVICE)
        __builtin_trap();
    pieces.at = 0;
    count = -1;
    outcome = receiveConfigReplyFrom(Pieces::receive, &pieces, kSerial, &status, configs, MAX_DEVICE_PORTS, &count);
    if (outcome < 0 || outcome > MGMT_OUTCOME_BAD_LIST || count > MAX_DEVICE_PORTS)
        __builtin_trap();
    return 0;
}
