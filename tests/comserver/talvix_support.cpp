#include <initguid.h>

#include "comserver/talvix_support.h"

#include <cstring>

namespace {

std::wstring TestFolder()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

bool Contains(const std::vector<HANDLE>& heaps, HANDLE heap)
{
    for (HANDLE h : heaps)
        if (h == heap)
            return true;
    return false;
}

// A copy of Talvix.dll under a name of its own in the temporary folder.
std::wstring FreshCopy(const std::wstring& original)
{
    static unsigned copies = 0;
    wchar_t folder[MAX_PATH];
    if (GetTempPathW(MAX_PATH, folder) == 0)
        return L"";
    const std::wstring copy = std::wstring(folder) + L"Talvix-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++copies) + L".dll";
    return CopyFileW(original.c_str(), copy.c_str(), FALSE) ? copy : L"";
}

// The heaps of the shared module, found when it was first loaded.
std::vector<HANDLE> sharedModuleHeaps;

}  // namespace

TalvixServer::TalvixServer(Kind kind) : path_(TestFolder() + L"Talvix.dll"), copy_(kind == kFreshCopy)
{
    if (copy_)
        path_ = FreshCopy(path_);
    // The system DLLs the server imports come first, so that the heaps that
    // appear during the load are the server's own.
    for (const char* dll : {"kernel32.dll", "ole32.dll", "oleaut32.dll", "setupapi.dll", "version.dll"})
        LoadLibraryA(dll);
    const bool loadedBefore = !copy_ && GetModuleHandleW(path_.c_str()) != nullptr;
    const std::vector<HANDLE> before = ProcessHeaps();
    module_ = path_.empty() ? nullptr : LoadLibraryW(path_.c_str());
    if (!module_)
        return;
    if (!loadedBefore) {
        for (HANDLE heap : ProcessHeaps())
            if (!Contains(before, heap))
                moduleHeaps_.push_back(heap);
        if (!copy_)
            sharedModuleHeaps = moduleHeaps_;
    } else {
        moduleHeaps_ = sharedModuleHeaps;
    }
    getClassObject_ = reinterpret_cast<decltype(getClassObject_)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ = reinterpret_cast<decltype(canUnloadNow_)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
}

IClassFactory* TalvixServer::Factory() const
{
    IClassFactory* factory = nullptr;
    if (FAILED(GetClassObject(CLSID_TVXDevice, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return nullptr;
    return factory;
}

ITVXDevice* TalvixServer::NewDevice() const
{
    Ref<IClassFactory> factory(Factory());
    ITVXDevice* device = nullptr;
    if (!factory || FAILED(factory->CreateInstance(nullptr, IID_ITVXDevice, reinterpret_cast<void**>(&device))))
        return nullptr;
    return device;
}

TalvixServer::~TalvixServer()
{
    Unload();
}

bool TalvixServer::Unload()
{
    if (!copy_ || !module_)
        return false;
    FreeLibrary(module_);
    module_ = nullptr;
    DeleteFileW(path_.c_str());
    return true;
}

VARIANT Carry(void* record, VARTYPE tag)
{
    VARIANT carrier;
    VariantInit(&carrier);
    carrier.byref = record;
    carrier.vt = tag;
    return carrier;
}

const HANDLE kUntouchedHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5A5A5A5A));

DeviceRecord MakeDeviceRecord(const GUID& cls, uint32_t instance)
{
    DeviceRecord record{};
    record.handle = kUntouchedHandle;
    record.interfaceClass = cls;
    record.instance = instance;
    return record;
}

ParamRecord MakeParam(uint32_t byteCount, uint16_t index, uint16_t statusSelector)
{
    ParamRecord param{};
    std::memset(param.clientBytes, 0xEE, sizeof param.clientBytes);
    param.byteCount = byteCount;
    param.statusSelector = statusSelector;
    param.index = index;
    return param;
}

CmdRecord MakeCmd(uint32_t byteCount, void* buffer, uint16_t index)
{
    CmdRecord cmd{};
    cmd.byteCount = byteCount;
    cmd.buffer = buffer;
    cmd.clientWord = 0xEEEE;
    cmd.index = index;
    return cmd;
}

void TalvixTest::SetUp()
{
    ASSERT_TRUE(device.Open(0)) << "the test bed is not up";
    ASSERT_TRUE(device.Reset());
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    comInitialised_ = true;
    ASSERT_TRUE(server.Loaded());
    tvx.Attach(server.NewDevice());
    ASSERT_TRUE(tvx);
}

void TalvixTest::TearDown()
{
    handles_.clear();
    tvx.Reset();
    if (comInitialised_)
        CoUninitialize();
    if (device.IsOpen())
        device.Reset();
}

DeviceRecord TalvixTest::Open(HRESULT (STDMETHODCALLTYPE ITVXDevice::*create)(VARIANT*, ULONG*))
{
    DeviceRecord record = MakeDeviceRecord();
    VARIANT carrier = Carry(&record);
    ULONG status = 0xDEAD;
    EXPECT_EQ((tvx.Get()->*create)(&carrier, &status), S_OK);
    EXPECT_EQ(status, 0u);
    if (record.handle != INVALID_HANDLE_VALUE && record.handle != kUntouchedHandle)
        Adopt(record.handle);
    return record;
}

void TalvixTest::Adopt(HANDLE handle)
{
    handles_.emplace_back(handle);
}

uint32_t TalvixTest::Mark()
{
    VdevInfo info{};
    EXPECT_TRUE(device.Info(info));
    return info.logNext;
}

std::vector<VdevLogRecord> Controls(const std::vector<VdevLogRecord>& log)
{
    std::vector<VdevLogRecord> out;
    for (const auto& record : log)
        if (record.type == VDEV_LOG_CONTROL)
            out.push_back(record);
    return out;
}

std::string ControlTrace(const std::vector<VdevLogRecord>& log)
{
    std::string trace;
    for (const auto& record : Controls(log)) {
        char letter = '?';
        if (record.a == IOCTL_DRIVER_STATE) {
            letter = 'D';
        } else if (record.a == IOCTL_GET_DEVICE_DESCRIPTOR) {
            letter = 'd';
        } else if (record.a == IOCTL_VENDOR_REQUEST && record.inLen >= 12) {
            switch (record.data[4]) {
            case REQ_STATUS: letter = 'S'; break;
            case REQ_READ: letter = 'R'; break;
            case REQ_WRITE: letter = 'W'; break;
            case REQ_RESET: letter = 'X'; break;
            case REQ_DEBUG: letter = 'G'; break;
            default: break;
            }
        }
        trace += letter;
        if (record.c != 0)
            trace += '!';
    }
    return trace;
}

std::vector<HANDLE> ProcessHeaps()
{
    std::vector<HANDLE> heaps(256);
    DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    heaps.resize(count <= heaps.size() ? count : 0);
    return heaps;
}

HeapUse UseOf(HANDLE heap)
{
    HeapUse use;
    if (!HeapLock(heap))
        return use;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
            ++use.blocks;
            use.bytes += entry.cbData;
        }
    }
    HeapUnlock(heap);
    return use;
}

HeapUse UseOutside(const std::vector<HANDLE>& excluded)
{
    HeapUse total;
    for (HANDLE heap : ProcessHeaps()) {
        if (Contains(excluded, heap))
            continue;
        HeapUse use = UseOf(heap);
        total.blocks += use.blocks;
        total.bytes += use.bytes;
    }
    return total;
}

HANDLE HeapHolding(const std::vector<HANDLE>& heaps, const void* data)
{
    for (HANDLE heap : heaps) {
        bool found = false;
        if (!HeapLock(heap))
            continue;
        PROCESS_HEAP_ENTRY entry{};
        while (!found && HeapWalk(heap, &entry))
            found = (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && entry.lpData == data;
        HeapUnlock(heap);
        if (found)
            return heap;
    }
    return nullptr;
}

namespace {

void ReplaceSlot(DWORD* slot, DWORD value)
{
    DWORD old;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old))
        return;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
}

}  // namespace

ExportPatch::ExportPatch(const char* dll, const char* function, void* replacement)
{
    auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(dll));
    if (!base)
        return;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.VirtualAddress == 0)
        return;
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
    auto* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (std::strcmp(reinterpret_cast<const char*>(base + names[i]), function) != 0)
            continue;
        DWORD* slot = &functions[ordinals[i]];
        original_ = *slot;
        // An address relative to the DLL's base: 32-bit arithmetic wraps to
        // any address of the process.
        ReplaceSlot(slot, static_cast<DWORD>(reinterpret_cast<uintptr_t>(replacement) -
                                             reinterpret_cast<uintptr_t>(base)));
        if (*slot != original_)
            slot_ = slot;
        return;
    }
}

ExportPatch::~ExportPatch()
{
    if (slot_)
        ReplaceSlot(slot_, original_);
}

HANDLE WINAPI FailingCreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

namespace {

// What the heap failure counts: calls seen, the first to refuse, refusals.
unsigned heapCalls = 0;
unsigned heapFailFrom = 0;
unsigned heapRefused = 0;
void* realHeapAlloc = nullptr;
void* realHeapReAlloc = nullptr;

bool RefuseThisCall()
{
    if (++heapCalls < heapFailFrom)
        return false;
    ++heapRefused;
    return true;
}

LPVOID WINAPI RefusingHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size)
{
    if (RefuseThisCall())
        return nullptr;
    return reinterpret_cast<decltype(&HeapAlloc)>(realHeapAlloc)(heap, flags, size);
}

LPVOID WINAPI RefusingHeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T size)
{
    if (RefuseThisCall())
        return nullptr;
    return reinterpret_cast<decltype(&HeapReAlloc)>(realHeapReAlloc)(heap, flags, block, size);
}

}  // namespace

HeapFailure::HeapFailure(HMODULE module, unsigned failFrom)
    : alloc_(module, "kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(&RefusingHeapAlloc)),
      realloc_(module, "kernel32.dll", "HeapReAlloc", reinterpret_cast<void*>(&RefusingHeapReAlloc))
{
    heapCalls = 0;
    heapRefused = 0;
    heapFailFrom = failFrom;
    realHeapAlloc = alloc_.Original();
    realHeapReAlloc = realloc_.Original();
}

HeapFailure::~HeapFailure()
{
    heapFailFrom = 0;
}

unsigned HeapFailure::Refused() const
{
    return heapRefused;
}

ScopedDeviceClass::ScopedDeviceClass(vdev::Device& device, const GUID& cls)
    : device_(device), published_(device.SetClass(cls) && vdev::WaitInterfaces(cls, 1, 2000))
{
}

ScopedDeviceClass::~ScopedDeviceClass()
{
    device_.SetClass(vdev::kDefaultClass);
    vdev::WaitInterfaces(vdev::kDefaultClass, 1, 2000);
}
