// Defaults and small helpers of the simulated devices.
#include "devsim/sim_model.h"

#include <arpa/inet.h>

#include <cstring>

#include "mgmt/line_settings.h"

void initSimDevice(SimDevice* device)
{
    memset(device, 0, sizeof *device);
    device->inUse = 1;
    memcpy(device->record.serialNumber, "SIM000000001", 12);
    strcpy(device->record.model, "SIM-SERVER");
    device->record.firmwareVersion[0] = 1;
    device->record.network.ipAddress = inet_addr("10.231.1.1");
    device->record.network.netmask = inet_addr("255.255.0.0");
    device->record.network.addressMode = ADDRESS_STATIC;
    device->record.webPort = 80;
    device->portCount = 1;
    for (int i = 0; i < SIM_MAX_PORTS; i++) {
        SerialPortConfig* c = &device->ports[i].config;
        c->lineSettings = packLineSettings(0, 115200, DEVICE_PARITY_NONE, DEVICE_DATA_BITS_8, DEVICE_STOP_BITS_1);
        c->devicePort = (uint16_t)(4001 + i);
        c->workMode = WORK_MODE_TCP;
        c->interface = INTERFACE_RS232;
        c->supportedInterfaces = INTERFACE_RS232 | INTERFACE_RS485 | INTERFACE_TTL;
    }
    device->auth = AUTH_CHECK;
    strcpy(device->userName, "tolmo");
    strcpy(device->password, "tolmo");
    device->refuseStatus = 2;
    device->misbehaviour.remaining = -1;
}

int findDeviceByAddress(const SimWorld* world, uint32_t ipAddress)
{
    for (int i = 0; i < world->deviceCount; i++)
        if (world->devices[i].inUse && world->devices[i].record.network.ipAddress == ipAddress)
            return i;
    return -1;
}

LogEntry* appendLogEntry(SimDevice* device)
{
    LogEntry* e = &device->log[device->logNext];
    memset(e, 0, sizeof *e);
    e->sequence = ++device->logSequence;
    device->logNext = (device->logNext + 1) % SIM_LOG_ENTRIES;
    if (device->logCount < SIM_LOG_ENTRIES)
        device->logCount++;
    return e;
}

const LogEntry* logEntryAt(const SimDevice* device, int n)
{
    if (n < 0 || n >= device->logCount)
        return nullptr;
    int oldest = (device->logNext - device->logCount + SIM_LOG_ENTRIES) % SIM_LOG_ENTRIES;
    return &device->log[(oldest + n) % SIM_LOG_ENTRIES];
}
