// watch: a line for each arrival and removal of a device the bus lists (the
// configured ids, and the family's devices of other vendors, marked not
// used), by libusb's hotplug where the system has it, else by looking at the
// list every half second.  No request reaches any device.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <thread>

#include "cancel.h"
#include "commands.h"
#include "errors.h"
#include "linux/devices.h"
#include "output.h"
#include "platform.h"
#include "usblink/watch.h"

namespace cli {

namespace {
std::optional<uint32_t> timeoutSeconds;  // 0: until Ctrl+C
}  // namespace

void AddWatchOptions(CLI::App& command, NumberOptions& numbers)
{
    numbers.Add(command, "--timeout", "stop after this many seconds (default, and 0: at Ctrl+C)", "SECONDS", false,
                kMaxTimeoutSeconds, kLimitTimeout, timeoutSeconds);
}

int RunWatch(const CommonOptions& common)
{
    ConsoleBreak consoleBreak;
    usblink::IdSet ids;
    std::unique_ptr<usblink::Bus> bus;
    if (const int code = ConfiguredBus(common, ids, bus))
        return code;
    std::unique_ptr<usblink::Watch> watch;
    const usblink::Result started = bus->StartWatch(ids, usblink::WatchMethod::Hotplug, watch);
    if (!started.ok())
        return Fail(kExitDevice, "can't watch the USB devices: " + started.detail);
    // The watch sees one flag: a signal or the end of --timeout raise it.
    std::atomic<bool> stop{false};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds.value_or(0));
    std::thread stopper([&] {
        while (!stop.load() && !ConsoleBreak::Requested() &&
               (timeoutSeconds.value_or(0) == 0 || std::chrono::steady_clock::now() < deadline))
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop.store(true);
    });
    if (!common.quiet && !common.json)
        PrintInfo(std::string("watching the USB devices of the configured ids (") +
                  (watch->Method() == usblink::WatchMethod::Hotplug ? "hotplug" : "polling") + "); Ctrl+C stops");
    const usblink::Result ran = watch->Run(stop, [&](const usblink::DeviceChange& change) {
        const char* event = change.change == usblink::Change::Arrival ? "arrival" : "removal";
        const std::string port = usblink::PortPathText(change.device), id = usblink::IdText(change.device.id);
        const std::string time = LocalTimeStamp();
        if (common.json)
            PrintJson({{"command", "watch"}, {"time", time}, {"event", event}, {"path", port}, {"id", id},
                       {"used", change.device.used}});
        else
            PrintLine(time + "  " + event + "  " + port + "  " + id +
                      (change.device.used ? std::string() : "  not used: " + change.device.note));
    });
    stop.store(true);
    stopper.join();
    if (!ran.ok())
        return Fail(ran.code == usblink::Code::NoMemory ? kExitNoMemory : kExitDevice,
                    "watching the USB devices failed: " + ran.detail);
    return kExitOk;
}

}  // namespace cli
