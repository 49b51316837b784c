// The link's USB stack on libusb: enumeration from the descriptors the system
// keeps, a watch of its changes, and a transport whose bulk transfers run
// asynchronously, so that a cancel can end one the device holds.
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <optional>
#include <thread>

#include "transport.h"
#include "usblink/bus.h"
#include "usblink/id_config.h"

namespace usblink {

namespace {

// How long the event loop waits before it looks at the cancel flag again.
constexpr long kCancelTickMicroseconds = 10000;
// Past its own timeout a transfer is cancelled from here as well.
constexpr auto kTimeoutGrace = std::chrono::seconds(1);
// How long a watch waits before it looks at its stop flag again, and how
// many such waits a polling watch makes between two looks at the list.
constexpr long kWatchTickMicroseconds = 100000;
constexpr unsigned kPollTicks = 5;

struct Context {
    libusb_context* context = nullptr;
    ~Context()
    {
        if (context)
            libusb_exit(context);
    }
};

struct Endpoints {
    int interface = -1;
    uint8_t in = 0;
    uint8_t out = 0;
};

class DeviceList {
public:
    explicit DeviceList(libusb_context* context) : count_(libusb_get_device_list(context, &list_)) {}
    ~DeviceList()
    {
        if (count_ >= 0)
            libusb_free_device_list(list_, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    ssize_t Count() const { return count_; }
    libusb_device* operator[](ssize_t i) const { return list_[i]; }

private:
    libusb_device** list_ = nullptr;
    ssize_t count_;
};

std::string Describe(int error)
{
    switch (error) {
    case LIBUSB_ERROR_TIMEOUT: return "the device did not answer in time";
    case LIBUSB_ERROR_PIPE: return "the device refused it (stall)";
    case LIBUSB_ERROR_NO_DEVICE: return "the device is gone";
    case LIBUSB_ERROR_OVERFLOW: return "the device sent more than asked for";
    default: return libusb_strerror(static_cast<libusb_error>(error));
    }
}

Result FromError(int error)
{
    const Code code = error == LIBUSB_ERROR_TIMEOUT  ? Code::Timeout
                      : error == LIBUSB_ERROR_NO_MEM ? Code::NoMemory
                                                     : Code::IoFailed;
    return Result{code, Describe(error)};
}

// The first interface with exactly one bulk IN and one bulk OUT endpoint.
bool FindEndpoints(libusb_device* device, Endpoints& endpoints)
{
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0)
        return false;
    bool found = false;
    for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
        const libusb_interface& interface = config->interface[i];
        if (interface.num_altsetting < 1)
            continue;
        const libusb_interface_descriptor& setting = interface.altsetting[0];
        Endpoints candidate;
        int ins = 0, outs = 0;
        for (int e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
            if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            if (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
                ++ins;
                candidate.in = endpoint.bEndpointAddress;
            } else {
                ++outs;
                candidate.out = endpoint.bEndpointAddress;
            }
        }
        if (ins == 1 && outs == 1) {
            candidate.interface = setting.bInterfaceNumber;
            endpoints = candidate;
            found = true;
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

// What the listing says of `device`, without a request to it; false for a
// device of no concern (neither configured nor of a family product id).
bool Inspect(libusb_device* device, const IdSet& ids, DeviceInfo& info, Endpoints& endpoints)
{
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != 0)
        return false;
    info = DeviceInfo();
    info.id = UsbId{descriptor.idVendor, descriptor.idProduct};
    const bool configured = ids.Contains(info.id);
    if (!configured && !IsFamilyProduct(info.id.product))
        return false;
    info.bus = libusb_get_bus_number(device);
    info.address = libusb_get_device_address(device);
    uint8_t ports[8];
    const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    if (depth > 0)
        info.ports.assign(ports, ports + depth);
    if (!configured)
        info.note = "its vendor id is not configured; to use it: " + AddCommand(info.id);
    else if (!FindEndpoints(device, endpoints))
        info.note = "its interface has not one bulk IN and one bulk OUT endpoint";
    else
        info.used = true;
    return true;
}

class LibusbTransport : public detail::Transport {
public:
    LibusbTransport(std::shared_ptr<Context> context, libusb_device_handle* handle, const Endpoints& endpoints,
                    libusb_transfer* transfer)
        : context_(std::move(context)), handle_(handle), endpoints_(endpoints), transfer_(transfer)
    {
    }
    ~LibusbTransport() override
    {
        libusb_free_transfer(transfer_);
        libusb_release_interface(handle_, endpoints_.interface);
        libusb_close(handle_);
    }

    Result Control(const VendorCommandBlock& block, uint8_t* stage, unsigned timeoutMs, uint32_t& moved) override
    {
        moved = 0;
        const int result = libusb_control_transfer(handle_, block.bmRequestType, block.bRequest, block.wValue,
                                                   block.wIndex, stage, block.wLength, Bounded(timeoutMs));
        if (result < 0)
            return FromError(result);
        moved = static_cast<uint32_t>(result);
        return Ok();
    }

    Result Bulk(bool in, uint8_t* data, uint32_t size, unsigned timeoutMs, const std::atomic<bool>* cancel,
                uint32_t& moved) override
    {
        moved = 0;
        int completed = 0;
        libusb_fill_bulk_transfer(transfer_, handle_, in ? endpoints_.in : endpoints_.out, data,
                                  static_cast<int>(size), Completed, &completed, Bounded(timeoutMs));
        const int submitted = libusb_submit_transfer(transfer_);
        if (submitted != 0)
            return FromError(submitted);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs) + kTimeoutGrace;
        bool cancelled = false;  // by the flag
        bool cancelSent = false;
        while (!completed) {
            const bool stop = cancel && cancel->load();
            if (!cancelSent && (stop || std::chrono::steady_clock::now() > deadline)) {
                cancelled = stop;
                cancelSent = libusb_cancel_transfer(transfer_) == 0;
            }
            timeval tick{0, kCancelTickMicroseconds};
            libusb_handle_events_timeout_completed(context_->context, &tick, &completed);
        }
        moved = static_cast<uint32_t>(transfer_->actual_length);
        switch (transfer_->status) {
        case LIBUSB_TRANSFER_COMPLETED: return Ok();
        case LIBUSB_TRANSFER_CANCELLED:
            return cancelled ? Result{Code::Cancelled, "cancelled"} : FromError(LIBUSB_ERROR_TIMEOUT);
        case LIBUSB_TRANSFER_TIMED_OUT: return FromError(LIBUSB_ERROR_TIMEOUT);
        case LIBUSB_TRANSFER_STALL: return FromError(LIBUSB_ERROR_PIPE);
        case LIBUSB_TRANSFER_NO_DEVICE: return FromError(LIBUSB_ERROR_NO_DEVICE);
        case LIBUSB_TRANSFER_OVERFLOW: return FromError(LIBUSB_ERROR_OVERFLOW);
        default: return FromError(LIBUSB_ERROR_IO);
        }
    }

private:
    static void LIBUSB_CALL Completed(libusb_transfer* transfer) { *static_cast<int*>(transfer->user_data) = 1; }
    // libusb takes 0 for no limit: every request has one.
    static unsigned Bounded(unsigned timeoutMs) { return timeoutMs ? timeoutMs : 1; }

    std::shared_ptr<Context> context_;
    libusb_device_handle* handle_;
    Endpoints endpoints_;
    libusb_transfer* transfer_;
};

Result ListDevices(libusb_context* context, const IdSet& ids, std::vector<DeviceInfo>& devices)
{
    devices.clear();
    DeviceList list(context);
    if (list.Count() < 0)
        return Result{Code::IoFailed, "can't list the USB devices: " + Describe(static_cast<int>(list.Count()))};
    for (ssize_t i = 0; i < list.Count(); ++i) {
        DeviceInfo info;
        Endpoints endpoints;
        if (Inspect(list[i], ids, info, endpoints))
            devices.push_back(std::move(info));
    }
    SortDevices(devices);
    return Ok();
}

// The same connection of the same device: a replug gets a new address.
bool SameDevice(const DeviceInfo& a, const DeviceInfo& b)
{
    return a.bus == b.bus && a.address == b.address && a.ports == b.ports && a.id == b.id;
}

bool Holds(const std::vector<DeviceInfo>& devices, const DeviceInfo& device)
{
    return std::any_of(devices.begin(), devices.end(), [&](const DeviceInfo& d) { return SameDevice(d, device); });
}

// The devices present, kept from the start on; the changes are reported
// while Run runs.  The hotplug callback is registered for the watch's life.
class LibusbWatch : public Watch {
public:
    LibusbWatch(std::shared_ptr<Context> context, const IdSet& ids) : context_(std::move(context)), ids_(ids) {}
    ~LibusbWatch() override
    {
        if (hotplug_)
            libusb_hotplug_deregister_callback(context_->context, *hotplug_);
    }

    Result Start(bool hotplug)
    {
        if (!hotplug || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
            return Poll();
        const auto events =
            static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
        libusb_hotplug_callback_handle handle;
        // With ENUMERATE the devices present arrive during the call, unreported.
        if (libusb_hotplug_register_callback(context_->context, events, LIBUSB_HOTPLUG_ENUMERATE,
                                             LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                                             LIBUSB_HOTPLUG_MATCH_ANY, OnHotplug, this, &handle) != LIBUSB_SUCCESS)
            return Poll();
        hotplug_ = handle;
        return outOfMemory_ ? OutOfMemory() : Ok();
    }

    WatchMethod Method() const override { return hotplug_ ? WatchMethod::Hotplug : WatchMethod::Polling; }

    Result Run(const std::atomic<bool>& stop, const ChangeHandler& report) override
    {
        report_ = &report;
        Result result;
        try {
            for (unsigned tick = 1; result.ok() && !stop.load(); ++tick) {
                if (hotplug_) {
                    timeval wait{0, kWatchTickMicroseconds};
                    const int handled = libusb_handle_events_timeout_completed(context_->context, &wait, nullptr);
                    if (handled < 0 && handled != LIBUSB_ERROR_INTERRUPTED)
                        result = Result{Code::IoFailed, "can't wait for USB events: " + Describe(handled)};
                    else if (outOfMemory_)
                        result = OutOfMemory();
                } else {
                    std::this_thread::sleep_for(std::chrono::microseconds(kWatchTickMicroseconds));
                    if (tick % kPollTicks == 0)
                        result = Poll();
                }
            }
        } catch (const std::bad_alloc&) {
            result = OutOfMemory();
        }
        report_ = nullptr;
        return result;
    }

private:
    // Runs within libusb's calls, which a C++ exception must not cross.
    static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event, void* data)
    {
        LibusbWatch& watch = *static_cast<LibusbWatch*>(data);
        try {
            DeviceInfo info;
            Endpoints endpoints;
            if (Inspect(device, watch.ids_, info, endpoints)) {
                std::vector<DeviceInfo> present = watch.present_;
                present.erase(std::remove_if(present.begin(), present.end(),
                                             [&](const DeviceInfo& d) { return SameDevice(d, info); }),
                              present.end());
                if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED)
                    present.push_back(std::move(info));
                watch.Update(std::move(present));
            }
        } catch (const std::bad_alloc&) {
            watch.outOfMemory_ = true;
        }
        return 0;  // stays registered
    }

    Result Poll()
    {
        std::vector<DeviceInfo> listed;
        const Result result = ListDevices(context_->context, ids_, listed);
        if (result.ok())
            Update(std::move(listed));
        return result;
    }

    // `present` is what is there now: what left and what came are reported,
    // the removals first.  A removed device is reported as it was listed:
    // once it is gone, the system has no active configuration for it.
    void Update(std::vector<DeviceInfo> present)
    {
        if (report_) {
            for (const DeviceInfo& device : present_)
                if (!Holds(present, device))
                    (*report_)(DeviceChange{Change::Removal, device});
            for (const DeviceInfo& device : present)
                if (!Holds(present_, device))
                    (*report_)(DeviceChange{Change::Arrival, device});
        }
        present_ = std::move(present);
    }

    std::shared_ptr<Context> context_;
    IdSet ids_;
    std::optional<libusb_hotplug_callback_handle> hotplug_;
    std::vector<DeviceInfo> present_;
    const ChangeHandler* report_ = nullptr;  // while Run runs
    bool outOfMemory_ = false;               // in a hotplug callback
};

std::string Naming(const DeviceInfo& device)
{
    return NodePath(device) + " (" + IdText(device.id) + " at port " + PortPathText(device) + ")";
}

}  // namespace

struct Bus::Impl {
    std::shared_ptr<Context> context;
};

Bus::Bus(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Bus::~Bus() = default;

Result Bus::Open(std::unique_ptr<Bus>& bus)
{
    try {
        auto context = std::make_shared<Context>();
        const int result = libusb_init(&context->context);
        if (result != 0)
            return Result{Code::OpenFailed, std::string("can't start libusb: ") + Describe(result)};
        bus.reset(new Bus(std::unique_ptr<Impl>(new Impl{std::move(context)})));
        return Ok();
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

Result Bus::List(const IdSet& ids, std::vector<DeviceInfo>& devices)
{
    try {
        return ListDevices(impl_->context->context, ids, devices);
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

Result Bus::OpenLink(const IdSet& ids, const Selector& which, const Timeouts& timeouts, std::unique_ptr<Link>& link)
{
    try {
        std::vector<DeviceInfo> devices;
        Result result = List(ids, devices);
        if (!result.ok())
            return result;
        std::string problem;
        const int chosen = FindSelected(devices, which, problem);
        if (chosen < 0)
            return Result{Code::OpenFailed, problem};
        const DeviceInfo& device = devices[chosen];

        DeviceList list(impl_->context->context);
        libusb_device* found = nullptr;
        Endpoints endpoints;
        for (ssize_t i = 0; i < list.Count() && !found; ++i) {
            DeviceInfo info;
            if (libusb_get_bus_number(list[i]) == device.bus && libusb_get_device_address(list[i]) == device.address &&
                Inspect(list[i], ids, info, endpoints) && info.used)
                found = list[i];
        }
        if (!found)
            return Result{Code::OpenFailed, "the device " + Naming(device) + " is gone"};

        libusb_device_handle* handle = nullptr;
        const int opened = libusb_open(found, &handle);
        if (opened == LIBUSB_ERROR_ACCESS)
            return Result{Code::OpenFailed, "no permission to open " + Naming(device) +
                                                "; to let users open it, run as root: " + AddCommand(device.id)};
        if (opened != 0)
            return Result{Code::OpenFailed, "can't open " + Naming(device) + ": " + Describe(opened)};
        const int claimed = libusb_claim_interface(handle, endpoints.interface);
        if (claimed != 0) {
            libusb_close(handle);
            return Result{Code::OpenFailed, claimed == LIBUSB_ERROR_BUSY
                                                ? Naming(device) + " is in use by another program"
                                                : "can't claim the interface of " + Naming(device) + ": " +
                                                      Describe(claimed)};
        }
        libusb_transfer* transfer = libusb_alloc_transfer(0);
        std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kChunkBytes]);
        std::unique_ptr<detail::Transport> transport(
            transfer ? new (std::nothrow) LibusbTransport(impl_->context, handle, endpoints, transfer) : nullptr);
        if (!transport || !buffer) {
            if (!transport) {
                libusb_free_transfer(transfer);
                libusb_release_interface(handle, endpoints.interface);
                libusb_close(handle);
            }
            return OutOfMemory();
        }
        link.reset(new Link(device, std::move(transport), std::move(buffer), timeouts));
        return Ok();
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

Result Bus::StartWatch(const IdSet& ids, WatchMethod wanted, std::unique_ptr<Watch>& watch)
{
    try {
        auto started = std::make_unique<LibusbWatch>(impl_->context, ids);
        const Result result = started->Start(wanted == WatchMethod::Hotplug);
        if (result.ok())
            watch = std::move(started);
        return result;
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

}  // namespace usblink
