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
#include "sim/requests.h"
#include "usb_protocol.h"

namespace backend {

namespace {

constexpr DWORD kWaitStepMs = 50;
constexpr uint32_t kShareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;

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
    case sim::kDeviceBusy:
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
        uint32_t moved = 0;
        const ModelStatus status = sim::Control(store_, instance_, code, in, inSize, out, outSize, moved);
        *returned = moved;
        return Finish(status);
    }

    BOOL Read(void* buffer, DWORD size, DWORD* moved) override
    {
        *moved = 0;
        if (pipe_ != VDEV_PIPE_IN)
            return Finish(MODEL_BAD_REQUEST);
        uint32_t done = 0;
        const ModelStatus status = sim::Read(store_, instance_, buffer, size, done);
        *moved = done;
        return Finish(status);
    }

    BOOL Write(const void* buffer, DWORD size, DWORD* moved) override
    {
        *moved = 0;
        if (pipe_ != VDEV_PIPE_OUT)
            return Finish(MODEL_BAD_REQUEST);
        uint32_t done = 0;
        const ModelStatus status = sim::Write(store_, instance_, buffer, size, done);
        *moved = done;
        return Finish(status);
    }

    BOOL Close() override
    {
        open_ = false;
        sim::ClosePipe(store_, instance_, pipe_);
        return TRUE;
    }

private:
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
    if (sim::OpenPipe(*s, instance, pipe, path, access, kShareBoth) != MODEL_OK) {
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
