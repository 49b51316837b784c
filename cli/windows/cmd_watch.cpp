// watch: the library registers a window of ours for the device-interface
// notifications of the selected class; each arrival and removal becomes a
// line.  The notifications are posted, so the window needs a message loop.
#include <windows.h>

#include <dbt.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <string>

#include "cancel.h"
#include "commands.h"
#include "dump/connection.h"
#include "errors.h"
#include "output.h"
#include "platform.h"
#include "uXfer.h"
#include "win/hidden_window.h"

namespace cli {

namespace {

std::optional<uint32_t> timeoutSeconds;  // 0: until Ctrl+C

constexpr UINT kStopMessage = WM_APP + 1;
constexpr UINT_PTR kTimeoutTimer = 1;

// The registration the library holds for our window, withdrawn at the end.
class Registration {
public:
    explicit Registration(HWND window) : registered_(uRegDevNotify(window) != 0) {}
    ~Registration()
    {
        if (registered_)
            uUnRegDevNotify();
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    bool Registered() const { return registered_; }

private:
    bool registered_;
};

// The device path of a notification.  Windows hands an ANSI window the ANSI
// record, but some systems put a wide string in it all the same; a device
// path always starts with "\\", so a zero second byte tells a wide one.
std::string DevicePath(const DEV_BROADCAST_DEVICEINTERFACE_A* record)
{
    const size_t header = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    if (record->dbcc_size <= header)
        return {};
    const size_t bytes = record->dbcc_size - header;
    const char* name = record->dbcc_name;
    if (bytes >= 2 && name[0] != 0 && name[1] == 0) {
        const auto* wide = reinterpret_cast<const wchar_t*>(name);
        const int chars = static_cast<int>(std::find(wide, wide + bytes / 2, L'\0') - wide);
        const int length = WideCharToMultiByte(CP_ACP, 0, wide, chars, nullptr, 0, nullptr, nullptr);
        std::string path(length, '\0');
        WideCharToMultiByte(CP_ACP, 0, wide, chars, &path[0], length, nullptr, nullptr);
        return path;
    }
    return std::string(name, std::find(name, name + bytes, '\0'));
}

}  // namespace

void AddWatchOptions(CLI::App& command, NumberOptions& numbers)
{
    numbers.Add(command, "--timeout", "stop after this many seconds (default, and 0: at Ctrl+C)", "SECONDS", false,
                kMaxTimeoutSeconds, kLimitTimeout, timeoutSeconds);
}

int RunWatch(const CommonOptions& common)
{
    const GUID cls = dump::InterfaceClass(common.loaderVersion.value_or(0));
    win::HiddenWindow window;
    const bool created = window.Create([&](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        if (message == kStopMessage || (message == WM_TIMER && wParam == kTimeoutTimer)) {
            PostQuitMessage(0);
            return true;
        }
        if (message != WM_DEVICECHANGE || (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE))
            return false;
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
            return false;
        const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(header);
        if (!IsEqualGUID(record->dbcc_classguid, cls))
            return false;
        const char* event = wParam == DBT_DEVICEARRIVAL ? "arrival" : "removal";
        const std::string path = dump::ListedPath(DevicePath(record));
        const std::string time = LocalTimeStamp();
        if (common.json)
            PrintJson({{"command", "watch"}, {"time", time}, {"event", event}, {"path", path}});
        else
            PrintLine(time + "  " + event + "  " + path);
        result = TRUE;
        return true;
    });
    if (!created)
        return Fail(kExitDevice, "can't create the window for device notifications (" +
                                     SystemErrorText(GetLastError()) + ")");
    Registration registration(window.Handle());
    if (!registration.Registered())
        return Fail(kExitDevice, "can't register for notifications of interface class " + dump::GuidText(cls) + " (" +
                                     SystemErrorText(GetLastError()) + ")");
    ConsoleBreak consoleBreak(window.Handle(), kStopMessage);
    if (timeoutSeconds.value_or(0) > 0)
        SetTimer(window.Handle(), kTimeoutTimer,
                 static_cast<UINT>(std::min<uint64_t>(*timeoutSeconds * 1000ull, USER_TIMER_MAXIMUM)),
                 nullptr);
    if (!common.quiet && !common.json)
        PrintInfo("watching interface class " + dump::GuidText(cls) + "; Ctrl+C stops");
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return kExitOk;
}

}  // namespace cli
