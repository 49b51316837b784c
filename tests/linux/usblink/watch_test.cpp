// The watch over the bed, by libusb's hotplug and by polling: each change of
// the devices the bus lists, in order, none sent a request; a signal stops it.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "usbbed/usbbed.h"
#include "usblink/bus.h"

namespace {

std::atomic<bool> stopWatch{false};

void StopOnSignal(int)
{
    stopWatch.store(true);
}

}  // namespace

TEST(Watch, ReportsEachChangeInOrderAndStopsAtASignal)
{
    const std::string v2 = " " + usblink::IdText({usbbed::kVendor, usbbed::kProductV2});
    const std::string v3 = " " + usblink::IdText({usbbed::kVendor, usbbed::kProduct});
    const std::string other = " 1234:cd02 its vendor id is not configured; to use it: uxfer usb add 1234:cd02";
    // 'a' add, 'f' add another maker's device, 'u' unplug, 'r' unplug and add again at once.
    const struct {
        char action;
        const char* port;
        uint16_t vendor, product;
        std::vector<std::string> changes;
    } steps[] = {
        {'a', "1-3.2", usbbed::kVendor, usbbed::kProductV2, {"arrival 1-3.2" + v2}},  // its hub is not listed
        {'f', "1-4", 0x1234, 0xCD02, {"arrival 1-4" + other}},
        {'f', "1-5", 0x1234, 0x5678, {}},
        {'r', "1-3.2", usbbed::kVendor, usbbed::kProductV2, {"removal 1-3.2" + v2, "arrival 1-3.2" + v2}},
        {'u', "1-5", 0, 0, {}},
        {'u', "1-1", 0, 0, {"removal 1-1" + v3}},  // there at the start
        {'u', "1-3.2", 0, 0, {"removal 1-3.2" + v2}},
        {'u', "1-4", 0, 0, {"removal 1-4" + other}},
    };
    usblink::IdSet ids;
    ids.ids = {{usbbed::kVendor, usbbed::kProduct}, {usbbed::kVendor, usbbed::kProductV2}};
    const auto before = signal(SIGUSR1, StopOnSignal);
    for (const usblink::WatchMethod method : {usblink::WatchMethod::Hotplug, usblink::WatchMethod::Polling}) {
        SCOPED_TRACE(method == usblink::WatchMethod::Hotplug ? "hotplug" : "polling");
        usbbed::Bed bed;
        std::map<std::string, usbbed::Device*> at = {{"1-1", bed.Add(usbbed::kVendor, usbbed::kProduct, "1-1")}};
        std::vector<usbbed::Device*> all = {at["1-1"]};
        std::unique_ptr<usblink::Bus> bus;
        std::unique_ptr<usblink::Watch> watch;
        ASSERT_TRUE(usblink::Bus::Open(bus).ok() && bus->StartWatch(ids, method, watch).ok());
        EXPECT_EQ(watch->Method(), method);  // hotplug: umockdev's uevents reach libusb
        std::mutex mutex;
        std::condition_variable reported;
        std::vector<std::string> changes, expected;
        usblink::Result result;
        stopWatch.store(false);
        std::thread watcher([&] {
            result = watch->Run(stopWatch, [&](const usblink::DeviceChange& c) {
                std::lock_guard<std::mutex> lock(mutex);
                changes.push_back((c.change == usblink::Change::Arrival ? "arrival " : "removal ") +
                                  usblink::PortPathText(c.device) + " " + usblink::IdText(c.device.id) +
                                  (c.device.used ? "" : " " + c.device.note));
                reported.notify_one();
            });
        });
        for (const auto& step : steps) {
            if (step.action == 'u' || step.action == 'r')
                bed.Unplug(*at[step.port]);
            if (step.action != 'u')
                all.push_back(at[step.port] = step.action == 'f' ? bed.AddForeign(step.vendor, step.product, step.port)
                                                                 : bed.Add(step.vendor, step.product, step.port));
            expected.insert(expected.end(), step.changes.begin(), step.changes.end());
            std::unique_lock<std::mutex> lock(mutex);  // bounded: a change missing after 10 s fails the test
            reported.wait_for(lock, std::chrono::seconds(10), [&] { return changes.size() >= expected.size(); });
        }
        pthread_kill(watcher.native_handle(), SIGUSR1);
        watcher.join();
        EXPECT_TRUE(result.ok()) << result.detail;
        EXPECT_EQ(changes, expected);
        for (usbbed::Device* device : all)
            EXPECT_TRUE(device->Requests().empty()) << device->PortPath();
    }
    signal(SIGUSR1, before);
}
