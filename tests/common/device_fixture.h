// Plain Win32 access to the virtual device, as the product libraries make it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/device_log.h"
#include "usb_protocol.h"
#include "vdev_client.h"
#include "win/unique_any.h"

// Device path of interface `index` of a class through SetupAPI with the 32-bit detail record.
std::string InterfacePath(const GUID& cls, DWORD index);
HANDLE OpenPath(const std::string& path, DWORD access);

// Sends one vendor request; `stage` is the data stage in both directions.
bool Vendor(HANDLE h, uint8_t direction, uint8_t request, uint16_t value, uint16_t index, std::vector<uint8_t>& stage);
uint8_t StatusByte(HANDLE h);

// Each test starts from a reset device 0 and opens its control path and both pipes.
class DeviceTest : public testing::Test {
protected:
    void SetUp() override;
    std::vector<VdevLogRecord> LogOf(uint16_t type);

    vdev::Device backChannel;
    std::string path;
    win::unique_file controlFile, outFile, inFile;
    HANDLE control = INVALID_HANDLE_VALUE, in = INVALID_HANDLE_VALUE, out = INVALID_HANDLE_VALUE;
};
