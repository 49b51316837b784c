// Shared pieces of the Talvix tests: the server loaded straight from its DLL
// (no registration), a fixture on instance 0 of the virtual device, carriers
// for the records, device-log helpers and an import-table patch for fault
// injection inside Talvix.dll.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <setupapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Talvix.h"
#include "common/com_ref.h"
#include "common/device_log.h"
#include "common/import_patch.h"
#include "talvix_records.h"
#include "usb_protocol.h"
#include "vdev_client.h"
#include "win/unique_any.h"

// Talvix.dll from the test's folder and its two exports.  The shared form
// stays loaded for the rest of the process (COM would not unload it mid-test
// either), so later tests see what earlier ones made; a fresh copy is a
// module of its own, in the state of a new process, unloaded with FreeLibrary
// when the object goes.
class TalvixServer {
public:
    enum Kind { kShared, kFreshCopy };
    explicit TalvixServer(Kind kind = kShared);
    ~TalvixServer();
    TalvixServer(const TalvixServer&) = delete;
    TalvixServer& operator=(const TalvixServer&) = delete;

    bool Loaded() const { return module_ && getClassObject_ && canUnloadNow_; }
    HMODULE Module() const { return module_; }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const { return getClassObject_(clsid, iid, ppv); }
    HRESULT CanUnloadNow() const { return canUnloadNow_(); }
    // The class object's IClassFactory; null on failure.
    IClassFactory* Factory() const;
    // A standalone TVXDevice; null on failure.
    ITVXDevice* NewDevice() const;
    std::wstring Path() const { return path_; }
    // The heaps that appeared when the module was loaded: its base heap and
    // its extra heaps.
    const std::vector<HANDLE>& ModuleHeaps() const { return moduleHeaps_; }
    // Unloads a fresh copy now; false when there is none loaded.
    bool Unload();

private:
    std::wstring path_;
    bool copy_ = false;
    HMODULE module_ = nullptr;
    std::vector<HANDLE> moduleHeaps_;
    HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow_)() = nullptr;
};

// A VARIANT that carries a record pointer in its value member.
VARIANT Carry(void* record, VARTYPE tag = VT_BYREF | VT_UI1);

// A DeviceRecord for instance n of a class, its handle set to a marker.
extern const HANDLE kUntouchedHandle;
DeviceRecord MakeDeviceRecord(const GUID& cls = vdev::kDefaultClass, uint32_t instance = 0);
ParamRecord MakeParam(uint32_t byteCount, uint16_t index, uint16_t statusSelector = 1);
CmdRecord MakeCmd(uint32_t byteCount, void* buffer, uint16_t index);

// Instance 0 reset and plugged, COM initialised, the server loaded and one
// device object made.  Handles opened into `records` are closed afterwards.
class TalvixTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens a record with one of the Create methods; expects success.
    DeviceRecord Open(HRESULT (STDMETHODCALLTYPE ITVXDevice::*create)(VARIANT*, ULONG*));
    DeviceRecord OpenControl() { return Open(&ITVXDevice::CreateDevice); }
    DeviceRecord OpenIn() { return Open(&ITVXDevice::CreateDeviceExR); }
    DeviceRecord OpenOut() { return Open(&ITVXDevice::CreateDeviceExW); }
    // Closes the handle later, whatever happens to the record.
    void Adopt(HANDLE handle);
    // The sequence number of the next log record, and the records from one on.
    uint32_t Mark();
    std::vector<VdevLogRecord> LogSince(uint32_t mark) { return device.Log(mark); }
    std::vector<VdevLogRecord> Log() { return device.Log(); }

    vdev::Device device;
    TalvixServer server;
    Ref<ITVXDevice> tvx;

private:
    std::vector<win::unique_file> handles_;
    bool comInitialised_ = false;
};

// Publishes instance 0's product interface under another class for the
// length of a test, and the default class again afterwards.
class ScopedDeviceClass {
public:
    ScopedDeviceClass(vdev::Device& device, const GUID& cls);
    ~ScopedDeviceClass();
    ScopedDeviceClass(const ScopedDeviceClass&) = delete;
    ScopedDeviceClass& operator=(const ScopedDeviceClass&) = delete;
    bool Published() const { return published_; }

private:
    vdev::Device& device_;
    bool published_;
};

// Log views.
std::vector<VdevLogRecord> Controls(const std::vector<VdevLogRecord>& log);  // every control request
// One letter per control request, in order: 'D' driver state, 'S' status,
// 'R' read, 'W' write, 'X' reset, 'G' debug, 'd' descriptor; '!' after a failed one.
std::string ControlTrace(const std::vector<VdevLogRecord>& log);

// The heaps of the process.
std::vector<HANDLE> ProcessHeaps();

// Busy blocks of a heap, walked under its lock.
struct HeapUse {
    size_t blocks = 0;
    size_t bytes = 0;
};
HeapUse UseOf(HANDLE heap);
// Summed over every heap of the process except the given ones.
HeapUse UseOutside(const std::vector<HANDLE>& excluded);
// The heap among `heaps` with a busy block whose data starts at `data`, or null.
HANDLE HeapHolding(const std::vector<HANDLE>& heaps, const void* data);

// A CreateFileA that fails with ERROR_ACCESS_DENIED, for import patches.
HANDLE WINAPI FailingCreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);

// Replaces one function in the export table of a loaded system DLL for the
// life of the object: modules loaded meanwhile bind their import to the
// replacement (and keep it).
class ExportPatch {
public:
    ExportPatch(const char* dll, const char* function, void* replacement);
    ~ExportPatch();
    ExportPatch(const ExportPatch&) = delete;
    ExportPatch& operator=(const ExportPatch&) = delete;

    bool Applied() const { return slot_ != nullptr; }

private:
    DWORD* slot_ = nullptr;
    DWORD original_ = 0;
};

// Makes the module heaps of Talvix.dll refuse blocks while the object lives:
// its HeapAlloc and HeapReAlloc calls fail from the n-th one on (1: all).
class HeapFailure {
public:
    HeapFailure(HMODULE module, unsigned failFrom);
    ~HeapFailure();
    HeapFailure(const HeapFailure&) = delete;
    HeapFailure& operator=(const HeapFailure&) = delete;

    bool Applied() const { return alloc_.Applied() && realloc_.Applied(); }
    // Calls refused so far.
    unsigned Refused() const;

private:
    ImportPatch alloc_;
    ImportPatch realloc_;
};
