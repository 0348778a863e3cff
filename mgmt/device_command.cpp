// Request, authenticate and retry: one authenticated device command.
#include "mgmt/device_command.h"

#include <cstring>

#include "mgmt/mgmt_build.h"
#include "mgmt/mgmt_packet.h"

namespace {

int receiveReply(const MgmtTransport* transport, const MgmtCommand* command, uint32_t* status)
{
    const uint8_t* serial = command->device->serialNumber;
    if (command->receiver == RECEIVE_CONFIG)
        return receiveConfigReplyFrom(transport->receive, transport->context, serial, status,
                                      command->configs, command->configCapacity, command->configCount);
    return receiveStatusReplyFrom(transport->receive, transport->context, serial, status);
}

int exchange(const MgmtTransport* transport, const MgmtCommand* command, MgmtAuthenticateFn authenticate,
             void* authContext, MgmtCommandResult* result)
{
    uint8_t datagram[MGMT_MAX_DATAGRAM];
    for (int round = 0; round <= MGMT_MAX_AUTH_ROUNDS; round++) {
        // Built afresh each round so newly entered credentials take effect.
        int length = buildAuthenticatedRequest(datagram, (int)sizeof datagram, command->code, command->device,
                                               command->commandBytes, command->commandLength);
        if (length == 0)
            return COMMAND_FAILED;
        transport->send(transport->context, datagram, length);
        result->requestsSent++;

        result->status = 0;
        result->outcome = receiveReply(transport, command, &result->status);
        if (result->outcome != MGMT_OUTCOME_OK || result->status >= MGMT_STATUS_FAILED)
            return COMMAND_FAILED;
        if (result->status == MGMT_STATUS_DONE)
            return COMMAND_DONE;
        if (!authenticate(authContext))
            return COMMAND_CANCELLED;
    }
    return COMMAND_FAILED;
}

}  // namespace

int runDeviceCommand(const MgmtTransport* transport, const MgmtCommand* command,
                     MgmtAuthenticateFn authenticate, void* authContext, MgmtCommandResult* result)
{
    result->result = COMMAND_NO_SOCKET;
    result->outcome = MGMT_OUTCOME_NO_REPLY;
    result->status = 0;
    result->requestsSent = 0;
    if (!transport->open(transport->context))
        return 0;
    // A query starts from an empty list, but a socket that failed leaves the old one.
    if (command->receiver == RECEIVE_CONFIG && command->configs && command->configCount &&
        command->configCapacity > 0) {
        memset(command->configs, 0, sizeof *command->configs * (size_t)command->configCapacity);
        *command->configCount = 0;
    }
    result->result = exchange(transport, command, authenticate, authContext, result);
    transport->close(transport->context);
    return result->result == COMMAND_DONE;
}
