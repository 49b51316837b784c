// The simulated devices' side of the device I/O: the virtual device's model
// in the shared store, answering each request as the device's driver does,
// and arrival and removal messages when a simulated device is plugged or
// unplugged.
#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "device_backend.h"
#include "sim/store.h"
#include "usb_protocol.h"

namespace backend {

namespace {

constexpr DWORD kWaitStepMs = 50;
constexpr uint32_t kShareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ModelStatus kDeviceBusy = static_cast<ModelStatus>(0x80000011L);  // STATUS_DEVICE_BUSY
constexpr ModelStatus kNameNotFound = static_cast<ModelStatus>(0xC0000034L);  // STATUS_OBJECT_NAME_NOT_FOUND

std::mutex storeGuard;
std::unique_ptr<sim::Store> store;

// The store, opened at first use; null (and said to a debugger) while it can't be.
sim::Store* TheStore()
{
    std::lock_guard<std::mutex> hold(storeGuard);
    if (!store) {
        std::string problem;
        store = sim::Store::Open(sim::DefaultFolder(), problem);
        if (!store)
            OutputDebugStringA(("\nuXferSim: " + problem + "\n").c_str());
    }
    return store.get();
}

DWORD ErrorOf(ModelStatus status)
{
    switch (status) {
    case MODEL_CANCELLED:
        return ERROR_OPERATION_ABORTED;
    case MODEL_BAD_PARAMETER:
        return ERROR_INVALID_PARAMETER;
    case MODEL_BAD_REQUEST:
        return ERROR_INVALID_FUNCTION;
    case MODEL_NO_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    case kDeviceBusy:
        return ERROR_BUSY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

BOOL Finish(ModelStatus status)
{
    if (status >= 0)
        return TRUE;
    SetLastError(ErrorOf(status));
    return FALSE;
}

bool ProcessEnded(DWORD id)
{
    win::unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    return !process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

class SimPart : public DevicePart {
public:
    SimPart(sim::Store& store, uint32_t instance, uint32_t pipe) : store_(store), instance_(instance), pipe_(pipe) {}
    ~SimPart() override
    {
        if (open_)
            Close();
    }

    BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override
    {
        *returned = 0;
        if (code != IOCTL_VENDOR_REQUEST && code != IOCTL_DRIVER_STATE && code != IOCTL_GET_DEVICE_DESCRIPTOR)
            return Finish(MODEL_BAD_REQUEST);
        uint8_t block[12] = {};
        const uint32_t given = inSize > sizeof block ? sizeof block + 1 : inSize;  // too long: the model refuses it
        if (in)
            std::memcpy(block, in, given > sizeof block ? sizeof block : given);
        sim::Access access(store_);
        if (!access.held())
            return Finish(kDeviceBusy);
        DeviceModel& m = access.model(instance_);
        uint32_t moved = 0;
        const ModelStatus status = ModelControl(&m, code, block, in ? given : 0, static_cast<uint8_t*>(out),
                                                out ? outSize : 0, &moved);
        if (code == IOCTL_VENDOR_REQUEST && status >= 0 && block[4] == REQ_RESET) {
            sim::InstanceRecord& record = access.record(instance_);
            const bool held = record.heldRead == sim::kHeld;
            ModelLog(&m, VDEV_LOG_RESET, VDEV_PIPE_CONTROL, block[8] | (block[9] << 8), held, 0, nullptr, 0, 0);
            if (held)
                access.EndHeldRead(instance_, sim::kHeldCancelled);
        }
        if (status >= 0)
            *returned = moved;
        return Finish(status);
    }

    BOOL Read(void* buffer, DWORD size, DWORD* moved) override
    {
        *moved = 0;
        if (pipe_ != VDEV_PIPE_IN)
            return Finish(MODEL_BAD_REQUEST);
        uint32_t hold = 0;
        {
            sim::Access access(store_);
            if (!access.held())
                return Finish(kDeviceBusy);
            DeviceModel& m = access.model(instance_);
            sim::InstanceRecord& record = access.record(instance_);
            switch (ModelPlanRead(&m)) {
            case READ_FAIL:
                ModelLog(&m, VDEV_LOG_READ, VDEV_PIPE_IN, size, 0, static_cast<uint32_t>(MODEL_FAILED), buffer, 0, 0);
                return Finish(MODEL_FAILED);
            case READ_HOLD:
                // A read held by a process that has ended holds nothing.
                if (record.heldRead == sim::kHeld && !ProcessEnded(record.heldBy))
                    return Finish(kDeviceBusy);
                record.heldRead = sim::kHeld;
                record.heldBy = GetCurrentProcessId();
                hold = ++record.heldSeq;
                break;
            case READ_NORMAL:
                return Deliver(m, buffer, size, moved);
            }
        }
        return WaitHeld(hold, buffer, size, moved);
    }

    BOOL Write(const void* buffer, DWORD size, DWORD* moved) override
    {
        *moved = 0;
        if (pipe_ != VDEV_PIPE_OUT)
            return Finish(MODEL_BAD_REQUEST);
        sim::Access access(store_);
        if (!access.held())
            return Finish(kDeviceBusy);
        DeviceModel& m = access.model(instance_);
        uint32_t done = 0;
        ModelStatus status = MODEL_FAILED;
        if (!ModelWriteFails(&m))
            status = ModelPipeWrite(&m, static_cast<const uint8_t*>(buffer), size, &done);
        ModelLog(&m, VDEV_LOG_WRITE, VDEV_PIPE_OUT, size, done, static_cast<uint32_t>(status), buffer, size, 0);
        *moved = done;
        return Finish(status);
    }

    BOOL Close() override
    {
        open_ = false;
        sim::Access access(store_);
        if (access.held() && instance_ < access.header().instanceCount)
            ModelLog(&access.model(instance_), VDEV_LOG_CLOSE, static_cast<uint16_t>(pipe_), 0, 0, 0, nullptr, 0, 0);
        return TRUE;
    }

private:
    BOOL Deliver(DeviceModel& m, void* buffer, DWORD size, DWORD* moved)
    {
        const uint32_t n = ModelPipeRead(&m, static_cast<uint8_t*>(buffer), ModelReadLimit(&m, size));
        ModelLog(&m, VDEV_LOG_READ, VDEV_PIPE_IN, size, n, 0, buffer, n, 0);
        *moved = n;
        return TRUE;
    }

    // Until the held read is released (it then reads) or ended by a reset or
    // new settings (it is then cancelled), from any process.
    BOOL WaitHeld(uint32_t hold, void* buffer, DWORD size, DWORD* moved)
    {
        for (;;) {
            store_.Wait(kWaitStepMs);
            sim::Access access(store_);
            if (!access.held())
                continue;
            sim::InstanceRecord& record = access.record(instance_);
            const bool mine = record.heldSeq == hold;
            if (mine && record.heldRead == sim::kHeld)
                continue;
            const bool released = mine && record.heldRead == sim::kHeldReleased;
            if (mine)
                record.heldRead = sim::kNotHeld;
            DeviceModel& m = access.model(instance_);
            if (released)
                return Deliver(m, buffer, size, moved);
            ModelLog(&m, VDEV_LOG_READ, VDEV_PIPE_IN, size, 0, static_cast<uint32_t>(MODEL_CANCELLED), nullptr, 0, 0);
            return Finish(MODEL_CANCELLED);
        }
    }

    sim::Store& store_;
    uint32_t instance_;
    uint32_t pipe_;
    bool open_ = true;
};

// Registrations of this process, and the thread that turns plugs and unplugs into messages.
struct Seen {
    uint32_t instance;
    uint32_t plugChanges;
};

struct Watch {
    HWND window;
    GUID cls;
    std::vector<Seen> present;
};

std::vector<Seen> PresentNow(sim::Access& access, const GUID& cls)
{
    std::vector<Seen> present;
    for (uint32_t i : sim::Present(access, cls))
        present.push_back({i, access.record(i).plugChanges});
    return present;
}

// Whether `list` holds `seen` as it was: the same instance, not unplugged and plugged since.
bool Holds(const std::vector<Seen>& list, const Seen& seen)
{
    return std::any_of(list.begin(), list.end(), [&](const Seen& s) {
        return s.instance == seen.instance && s.plugChanges == seen.plugChanges;
    });
}

class Watcher {
public:
    HDEVNOTIFY Add(HWND window, const GUID& cls)
    {
        sim::Store* s = TheStore();
        if (!s || !IsWindow(window))
            return nullptr;
        std::unique_ptr<Watch> watch(new (std::nothrow) Watch{window, cls, {}});
        if (!watch)
            return nullptr;
        {
            sim::Access access(*s);
            if (!access.held())
                return nullptr;
            watch->present = PresentNow(access, cls);
        }
        std::lock_guard<std::mutex> hold(guard_);
        if (!thread_ && !Start())
            return nullptr;
        watches_.push_back(std::move(watch));
        return reinterpret_cast<HDEVNOTIFY>(watches_.back().get());
    }

    BOOL Remove(HDEVNOTIFY handle)
    {
        win::unique_handle ended;
        {
            std::lock_guard<std::mutex> hold(guard_);
            auto found = std::find_if(watches_.begin(), watches_.end(),
                                      [handle](const std::unique_ptr<Watch>& w) { return w.get() == handle; });
            if (found == watches_.end()) {
                SetLastError(ERROR_INVALID_HANDLE);
                return FALSE;
            }
            watches_.erase(found);
            if (!watches_.empty())
                return TRUE;
            stop_ = true;
            ended = std::move(thread_);
        }
        TheStore()->Wake();
        WaitForSingleObject(ended.get(), 5000);
        return TRUE;
    }

private:
    bool Start()
    {
        // The thread keeps the library loaded while it runs.
        HMODULE self = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Run), &self))
            return false;
        stop_ = false;
        thread_.reset(CreateThread(nullptr, 0, Run, this, 0, nullptr));
        if (!thread_)
            FreeLibrary(self);
        return thread_.valid();
    }

    static DWORD WINAPI Run(void* context)
    {
        auto* self = static_cast<Watcher*>(context);
        self->Loop();
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&Run), &module);
        FreeLibraryAndExitThread(module, 0);
    }

    void Loop()
    {
        sim::Store& s = *TheStore();
        uint32_t seen = s.Peek().plugGeneration;
        for (;;) {
            s.Wait(kWaitStepMs * 2);
            {
                std::lock_guard<std::mutex> hold(guard_);
                if (stop_)
                    return;
            }
            const uint32_t now = s.Peek().plugGeneration;
            if (now == seen)
                continue;
            seen = now;
            Notify(s);
        }
    }

    // Sends each watch the arrivals and removals since it last looked.
    void Notify(sim::Store& s)
    {
        struct Message {
            HWND window;
            WPARAM event;
            GUID cls;
            std::string path;
        };
        std::vector<Message> messages;
        {
            sim::Access access(s);
            if (!access.held())
                return;
            std::lock_guard<std::mutex> hold(guard_);
            for (auto& watch : watches_) {
                const std::vector<Seen> now = PresentNow(access, watch->cls);
                for (const Seen& gone : watch->present)
                    if (!Holds(now, gone))
                        messages.push_back({watch->window, DBT_DEVICEREMOVECOMPLETE, watch->cls,
                                            sim::DevicePath(gone.instance, watch->cls)});
                for (const Seen& came : now)
                    if (!Holds(watch->present, came))
                        messages.push_back({watch->window, DBT_DEVICEARRIVAL, watch->cls,
                                            sim::DevicePath(came.instance, watch->cls)});
                watch->present = now;
            }
        }
        for (const Message& message : messages) {
            std::vector<uint8_t> record(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) + message.path.size());
            auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(record.data());
            header->dbcc_size = static_cast<DWORD>(record.size());
            header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            header->dbcc_classguid = message.cls;
            std::memcpy(header->dbcc_name, message.path.c_str(), message.path.size() + 1);
            DWORD_PTR result = 0;
            SendMessageTimeoutA(message.window, WM_DEVICECHANGE, message.event, reinterpret_cast<LPARAM>(header),
                                SMTO_ABORTIFHUNG, 5000, &result);
        }
    }

    std::mutex guard_;
    std::vector<std::unique_ptr<Watch>> watches_;
    win::unique_handle thread_;
    bool stop_ = false;
};

Watcher watcher;

}  // namespace

uint32_t CountInstances(const GUID& cls)
{
    sim::Store* s = TheStore();
    if (!s)
        return 0;
    sim::Access access(*s);
    return access.held() ? static_cast<uint32_t>(sim::Present(access, cls).size()) : 0;
}

std::string FindDevicePath(const GUID& cls, uint32_t instance)
{
    sim::Store* s = TheStore();
    if (!s)
        return std::string();
    sim::Access access(*s);
    if (!access.held())
        return std::string();
    const std::vector<uint32_t> present = sim::Present(access, cls);
    return instance < present.size() ? sim::DevicePath(present[instance], cls) : std::string();
}

std::unique_ptr<DevicePart> OpenPart(const std::string& path, DWORD access)
{
    sim::Store* s = TheStore();
    uint32_t instance = 0;
    if (!s || !sim::InstanceOfPath(path, instance)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    const size_t suffix = path.rfind('\\');
    uint32_t pipe = VDEV_PIPE_CONTROL;
    if (path.compare(suffix, std::string::npos, PIPE_IN_SUFFIX) == 0)
        pipe = VDEV_PIPE_IN;
    else if (path.compare(suffix, std::string::npos, PIPE_OUT_SUFFIX) == 0)
        pipe = VDEV_PIPE_OUT;
    sim::Access held(*s);
    if (!held.held() || instance >= held.header().instanceCount || !held.record(instance).plugged) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    DeviceModel& m = held.model(instance);
    const ModelStatus status = ModelOpenFails(&m, pipe) ? kNameNotFound : MODEL_OK;
    ModelLog(&m, VDEV_LOG_OPEN, static_cast<uint16_t>(pipe), access, kShareBoth, static_cast<uint32_t>(status),
             path.c_str(), static_cast<uint32_t>(path.size()), 0);
    if (status != MODEL_OK) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return std::unique_ptr<DevicePart>(new (std::nothrow) SimPart(*s, instance, pipe));
}

HDEVNOTIFY RegisterNotify(HWND window, const GUID& cls)
{
    return watcher.Add(window, cls);
}

BOOL UnregisterNotify(HDEVNOTIFY handle)
{
    return watcher.Remove(handle);
}

}  // namespace backend
