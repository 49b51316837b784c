#include "common/device_fixture.h"

#include "win/device_interfaces.h"

std::string InterfacePath(const GUID& cls, DWORD index)
{
    return win::DeviceInterfacePath(win::DeviceInterfaces(cls), index);
}

HANDLE OpenPath(const std::string& path, DWORD access)
{
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Vendor(HANDLE h, uint8_t direction, uint8_t request, uint16_t value, uint16_t index, std::vector<uint8_t>& stage)
{
    VendorCommandBlock block;
    VendorBlockInit(&block, direction, request, value, index, static_cast<uint16_t>(stage.size()));
    DWORD returned = 0;
    return DeviceIoControl(h, IOCTL_VENDOR_REQUEST, &block, sizeof block, stage.empty() ? nullptr : stage.data(),
                           static_cast<DWORD>(stage.size()), &returned, nullptr) != FALSE;
}

uint8_t StatusByte(HANDLE h)
{
    std::vector<uint8_t> status(8, 0xEE);
    EXPECT_TRUE(Vendor(h, VENDOR_DEVICE_TO_HOST, REQ_STATUS, 1, 0, status));
    return status[0];
}

void DeviceTest::SetUp()
{
    ASSERT_TRUE(backChannel.Open(0)) << "virtual device instance 0 missing: is the test bed up?";
    ASSERT_TRUE(backChannel.Reset());
    path = InterfacePath(vdev::kDefaultClass, 0);
    ASSERT_FALSE(path.empty());
    controlFile.reset(OpenPath(path, GENERIC_READ | GENERIC_WRITE));
    outFile.reset(OpenPath(path + "\\PIPE1", GENERIC_WRITE));
    inFile.reset(OpenPath(path + "\\PIPE0", GENERIC_READ));
    ASSERT_TRUE(controlFile.valid() && outFile.valid() && inFile.valid()) << path << " error " << GetLastError();
    control = controlFile.get();
    out = outFile.get();
    in = inFile.get();
}

std::vector<VdevLogRecord> DeviceTest::LogOf(uint16_t type)
{
    std::vector<VdevLogRecord> records;
    for (const auto& r : backChannel.Log())
        if (r.type == type)
            records.push_back(r);
    return records;
}
