#include "common/device_fixture.h"

#include <setupapi.h>

namespace {
// The record sizes SetupAPI takes, written out as numbers: a 32-bit program's
// records are packed, a 64-bit program's are padded to 8-byte alignment.
#ifdef _WIN64
constexpr DWORD kInterfaceDataSize = 32;
constexpr DWORD kDetailFixedSize = 8;
#else
constexpr DWORD kInterfaceDataSize = 28;
constexpr DWORD kDetailFixedSize = 5;
#endif
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == kInterfaceDataSize, "interface record");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == kDetailFixedSize, "detail record");
}  // namespace

std::string InterfacePath(const GUID& cls, DWORD index)
{
    HDEVINFO set = SetupDiGetClassDevsA(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return {};
    std::string path;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = kInterfaceDataSize;
    if (SetupDiEnumDeviceInterfaces(set, nullptr, &cls, index, &data)) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
        std::vector<char> buffer(size + 1);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = kDetailFixedSize;
        if (size >= kDetailFixedSize && SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr))
            path = detail->DevicePath;
    }
    SetupDiDestroyDeviceInfoList(set);
    return path;
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
