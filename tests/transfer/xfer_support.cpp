#include "transfer/xfer_support.h"

#include <dbt.h>

#include <cstdio>
#include <cstring>

namespace {

const char* PipeName(uint16_t pipe)
{
    switch (pipe) {
    case VDEV_PIPE_IN:
        return "PIPE0";
    case VDEV_PIPE_OUT:
        return "PIPE1";
    default:
        return "control";
    }
}

constexpr char kWindowClass[] = "uXferTestWindow";

// A device-notification registration, withdrawn when the object goes.
class Registration {
public:
    explicit Registration(HDEVNOTIFY handle) : handle_(handle) {}
    ~Registration()
    {
        if (handle_)
            UnregisterDeviceNotification(handle_);
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HDEVNOTIFY handle_;
};

}  // namespace

std::vector<std::string> Trace(const std::vector<VdevLogRecord>& log, bool withHandles)
{
    std::vector<std::string> lines;
    char line[64];
    for (const VdevLogRecord& r : log) {
        switch (r.type) {
        case VDEV_LOG_CONTROL:
            if (r.a != IOCTL_VENDOR_REQUEST || r.inLen < 12)
                continue;
            std::snprintf(line, sizeof line, "ctl %02X%s", r.data[4], r.c ? " failed" : "");
            break;
        case VDEV_LOG_RESET:
            std::snprintf(line, sizeof line, "reset %u", r.a);
            break;
        case VDEV_LOG_READ:
        case VDEV_LOG_WRITE:
            std::snprintf(line, sizeof line, "%s %u>%u%s", r.type == VDEV_LOG_READ ? "read" : "write", r.a, r.b,
                          r.c ? " failed" : "");
            break;
        case VDEV_LOG_OPEN:
        case VDEV_LOG_CLOSE:
            if (!withHandles)
                continue;
            std::snprintf(line, sizeof line, "%s %s%s", r.type == VDEV_LOG_OPEN ? "open" : "close", PipeName(r.pipe),
                          r.c ? " failed" : "");
            break;
        default:
            continue;
        }
        lines.push_back(line);
    }
    return lines;
}

TransferDesc Desc(uint32_t address, uint32_t length, uint32_t unitSize)
{
    TransferDesc desc = {};
    desc.address = address;
    desc.length = length;
    desc.unitSize = unitSize;
    return desc;
}

void XferTest::SetUp()
{
    ASSERT_TRUE(device.Open(0)) << "test bed not running?";
    ASSERT_TRUE(device.Reset());
    ASSERT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 1, 5000));
    uSetDelay(0);
    uSetInstance(0);
    uSetKVVersion(304);
    uSetMsgFlag(0);
    uSetMsgWnd(nullptr);
}

void XferTest::TearDown()
{
    uClose();
    uSetDelay(100);
}

ExtraInstance::~ExtraInstance()
{
    if (number_ >= 0)
        vdev::RemoveInstance(static_cast<unsigned>(number_));
}

ProgressWindow::ProgressWindow()
{
    WNDCLASSA cls = {};
    cls.lpfnWndProc = Proc;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = kWindowClass;
    RegisterClassA(&cls);  // fails harmlessly when already registered
    window_ = CreateWindowExA(0, kWindowClass, "uXfer test", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance,
                              this);
}

ProgressWindow::~ProgressWindow()
{
    if (window_)
        DestroyWindow(window_);
}

LRESULT CALLBACK ProgressWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (wParam != XFER_PROGRESS_ID || data->cbData != 0 || data->lpData != nullptr)
            ++self->malformed_;
        self->progress_.push_back(static_cast<uint32_t>(data->dwData));
        if (self->hook_)
            self->hook_(self->hookContext_);
        return TRUE;
    }
    if (self && message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (header && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
            self->arrivals_.push_back(reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lParam)->dbcc_classguid);
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool ProgressWindow::WaitArrival(DWORD timeoutMs)
{
    const size_t seen = arrivals_.size();
    Stopwatch clock;
    while (arrivals_.size() == seen && clock.Ms() < timeoutMs) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return arrivals_.size() > seen;
}

bool ListenForDeviceChanges(vdev::Device& device)
{
    ProgressWindow probe;
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = vdev::kDefaultClass;
    Registration registration(RegisterDeviceNotificationA(probe.Handle(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    if (!registration)
        return false;
    for (int attempt = 0; attempt < 30; ++attempt) {
        if (!device.SetPlugged(false) || !vdev::WaitInterfaces(vdev::kDefaultClass, 0, 5000) ||
            !device.SetPlugged(true) || !vdev::WaitInterfaces(vdev::kDefaultClass, 1, 5000))
            return false;
        if (probe.WaitArrival(1000))
            return true;
    }
    return false;
}

Stopwatch::Stopwatch()
{
    QueryPerformanceCounter(&start_);
}

double Stopwatch::Ms() const
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void XferOpenTest::SetUp()
{
    XferTest::SetUp();
    if (HasFatalFailure())
        return;
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    ASSERT_TRUE(device.Reset());
}
