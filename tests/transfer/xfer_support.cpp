#include "xfer_support.h"

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

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return handle_; }
    HANDLE* Out() { return &handle_; }
    void Reset()
    {
        if (handle_ && handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_;
};

constexpr DWORD kDbgPrintException = 0x40010006;  // DBG_PRINTEXCEPTION_C
constexpr char kWindowClass[] = "uXferTestWindow";

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
            std::snprintf(line, sizeof line, "%s %s", r.type == VDEV_LOG_OPEN ? "open" : "close", PipeName(r.pipe));
            break;
        default:
            continue;
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<VdevLogRecord> Requests(const std::vector<VdevLogRecord>& log, uint8_t request)
{
    std::vector<VdevLogRecord> found;
    for (const VdevLogRecord& r : log)
        if (r.type == VDEV_LOG_CONTROL && r.a == IOCTL_VENDOR_REQUEST && r.inLen >= 12 && r.data[4] == request)
            found.push_back(r);
    return found;
}

std::vector<uint8_t> Bytes(const VdevLogRecord& record)
{
    return std::vector<uint8_t>(record.data, record.data + record.dataLen);
}

std::vector<uint8_t> Block(uint8_t direction, uint8_t request, uint16_t value, uint16_t index, uint16_t length)
{
    return {direction,
            2,
            0,
            static_cast<uint8_t>(direction ? 0xC0 : 0x40),
            request,
            0,
            static_cast<uint8_t>(value),
            static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(index),
            static_cast<uint8_t>(index >> 8),
            static_cast<uint8_t>(length),
            static_cast<uint8_t>(length >> 8)};
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words)
{
    std::vector<uint8_t> bytes;
    for (uint32_t w : words)
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<uint8_t>(w >> shift));
    return bytes;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TransferDesc Desc(uint32_t address, uint32_t length, uint32_t unitSize)
{
    TransferDesc desc = {};
    desc.address = address;
    desc.length = length;
    desc.unitSize = unitSize;
    return desc;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
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

DebugTexts* DebugTexts::active_ = nullptr;

DebugTexts::DebugTexts()
{
    active_ = this;
    handler_ = AddVectoredExceptionHandler(1, Handler);
}

DebugTexts::~DebugTexts()
{
    RemoveVectoredExceptionHandler(handler_);
    active_ = nullptr;
}

LONG CALLBACK DebugTexts::Handler(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (r->ExceptionCode == kDbgPrintException && r->NumberParameters >= 2 && active_) {
        const char* text = reinterpret_cast<const char*>(r->ExceptionInformation[1]);
        std::lock_guard<std::mutex> hold(active_->lock_);
        active_->texts_.emplace_back(text);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

std::vector<std::string> DebugTexts::Take()
{
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> texts;
    texts.swap(texts_);
    return texts;
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
    Stopwatch clock;
    while (arrivals_.empty() && clock.Ms() < timeoutMs) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return !arrivals_.empty();
}

ProgramRun RunProgram(const std::string& exeName, const std::string& arguments)
{
    ProgramRun run;
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string dir(self, length);
    dir.erase(dir.find_last_of("\\/") + 1);
    std::string command = "\"" + dir + exeName + "\" " + arguments;

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    Handle readEnd, writeEnd;
    if (!CreatePipe(readEnd.Out(), writeEnd.Out(), &inherit, 0))
        return run;
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(), &startup, &info))
        return run;
    Handle process(info.hProcess), thread(info.hThread);
    writeEnd.Reset();
    run.started = true;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(readEnd.Get(), chunk, sizeof chunk, &got, nullptr) && got)
        run.output.append(chunk, got);
    WaitForSingleObject(process.Get(), INFINITE);
    GetExitCodeProcess(process.Get(), &run.exitCode);
    return run;
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
