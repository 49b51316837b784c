// The simulated devices' side of the link: a transport that hands each
// request to the model in the shared store (sim/requests.h), as uXferSim.dll's
// device I/O does, and the choice of a device by class and number.
#include "usblink/sim_bus.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "loader_versions.h"
#include "sim/requests.h"
#include "transport.h"
#include "usb_protocol.h"

namespace usblink {

namespace {

// The pipes the library opens, in its order; the link opens all three.
constexpr uint32_t kPipes[] = {VDEV_PIPE_CONTROL, VDEV_PIPE_OUT, VDEV_PIPE_IN};

std::string Describe(ModelStatus status)
{
    switch (status) {
    case sim::kDeviceBusy:
        return "another program held the simulated devices' lock, or a read of the device, for too long";
    case MODEL_NO_MEMORY:
        return "no room for the simulated device's memory image";
    case MODEL_CANCELLED:
        return "the device ended it (a reset, or new settings)";
    case MODEL_BAD_REQUEST:
    case MODEL_BAD_PARAMETER:
        return "the device refused it";
    default:
        return "the device failed it";
    }
}

Result Outcome(ModelStatus status)
{
    return status >= 0 ? Ok() : Result{Code::IoFailed, Describe(status)};
}

class SimTransport : public detail::Transport {
public:
    SimTransport(std::shared_ptr<sim::Store> store, uint32_t section) : store_(std::move(store)), section_(section) {}
    ~SimTransport() override
    {
        for (uint32_t pipe : {VDEV_PIPE_CONTROL, VDEV_PIPE_IN, VDEV_PIPE_OUT})
            if (opened_ & (1u << pipe))
                sim::ClosePipe(*store_, section_, pipe);
    }
    SimTransport(const SimTransport&) = delete;
    SimTransport& operator=(const SimTransport&) = delete;

    // The device to this link alone: 0, or why it can't be had (EWOULDBLOCK: another has it).
    int Claim()
    {
        claim_.reset(open(store_->ImagePath(section_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        return claim_ && flock(claim_.get(), LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    }

    ModelStatus OpenPipes()
    {
        const std::string path = store_->ImagePath(section_);
        for (uint32_t pipe : kPipes) {
            const ModelStatus status = sim::OpenPipe(*store_, section_, pipe, path, 0, 0);
            if (status != MODEL_OK)
                return status;
            opened_ |= 1u << pipe;
        }
        return MODEL_OK;
    }

    Result Control(const VendorCommandBlock& block, uint8_t* stage, unsigned, uint32_t& moved) override
    {
        return Outcome(sim::Control(*store_, section_, IOCTL_VENDOR_REQUEST, &block, sizeof block,
                                    block.wLength ? stage : nullptr, block.wLength, moved));
    }

    Result Bulk(bool in, uint8_t* data, uint32_t size, unsigned timeoutMs, const std::atomic<bool>* cancel,
                uint32_t& moved) override
    {
        if (!in)
            return Outcome(sim::Write(*store_, section_, data, size, moved));
        // Only a read the device holds waits: until the cancel or the timeout.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        const auto cancelled = [cancel] { return cancel && cancel->load(); };
        const ModelStatus status = sim::Read(*store_, section_, data, size, moved, [&] {
            return cancelled() || std::chrono::steady_clock::now() >= deadline;
        });
        if (status != MODEL_CANCELLED)
            return Outcome(status);
        if (cancelled())
            return Result{Code::Cancelled, "cancelled"};
        if (std::chrono::steady_clock::now() >= deadline)
            return Result{Code::Timeout, "the device did not answer in time"};
        return Outcome(status);
    }

private:
    std::shared_ptr<sim::Store> store_;
    uint32_t section_;
    sim::sys::Descriptor claim_;
    uint32_t opened_ = 0;  // bit n: pipe n
};

// The class of `loaderVersion`; false when no loader has that version.
bool ClassOf(uint32_t loaderVersion, GUID& cls)
{
    static const GUID kDefault = DEVICE_CLASS_DEFAULT_INIT;
    if (loaderVersion == 0) {
        cls = kDefault;
        return true;
    }
    const LoaderVersion* loader = FindLoaderVersion(loaderVersion);
    if (loader)
        cls = loader->interfaceClass;
    return loader != nullptr;
}

std::string Named(uint32_t loaderVersion, uint32_t instance)
{
    return "simulated device " + std::to_string(instance) +
           (loaderVersion ? " --loader-version " + std::to_string(loaderVersion) : "");
}

}  // namespace

struct SimBus::Impl {
    std::shared_ptr<sim::Store> store;
};

SimBus::SimBus(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SimBus::~SimBus() = default;

Result SimBus::Open(std::unique_ptr<SimBus>& bus)
{
    try {
        std::string problem;
        std::shared_ptr<sim::Store> store = sim::Store::Open(sim::DefaultFolder(), problem);
        if (!store)
            return Result{Code::OpenFailed, problem};
        bus.reset(new SimBus(std::unique_ptr<Impl>(new Impl{std::move(store)})));
        return Ok();
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

const std::string& SimBus::Folder() const
{
    return impl_->store->folder();
}

Result SimBus::List(uint32_t loaderVersion, std::vector<SimulatedDevice>& devices)
{
    try {
        devices.clear();
        GUID cls;
        if (!ClassOf(loaderVersion, cls))
            return Result{Code::OpenFailed, "no loader version is " + std::to_string(loaderVersion)};
        sim::Access access(*impl_->store);
        if (!access.held())
            return Result{Code::OpenFailed, access.problem()};
        if (access.header().settingsProblem[0])
            return Result{Code::OpenFailed, "no simulated device: " + std::string(access.header().settingsProblem)};
        for (uint32_t section : sim::Present(access, cls)) {
            const DeviceModel& m = access.model(section);
            SimulatedDevice device;
            device.instance = static_cast<uint32_t>(devices.size());
            device.section = section;
            device.id = UsbId{m.descriptor.idVendor, m.descriptor.idProduct};
            device.memoryBytes = m.memoryBytes;
            devices.push_back(device);
        }
        return Ok();
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

Result SimBus::OpenLink(uint32_t loaderVersion, uint32_t instance, const Timeouts& timeouts,
                        std::unique_ptr<Link>& link)
{
    try {
        std::vector<SimulatedDevice> devices;
        Result result = List(loaderVersion, devices);
        if (!result.ok())
            return result;
        const std::string name = Named(loaderVersion, instance);
        if (instance >= devices.size())
            return Result{Code::OpenFailed, "no " + name + " (" + std::to_string(devices.size()) +
                                                " present in its class); devices.ini in " + Folder() + " sets them"};
        auto transport = std::make_unique<SimTransport>(impl_->store, devices[instance].section);
        if (const int error = transport->Claim())
            return Result{Code::OpenFailed, error == EWOULDBLOCK ? name + " is in use by another program"
                                                                 : "can't claim " + name + ": " + std::strerror(error)};
        const ModelStatus opened = transport->OpenPipes();
        if (opened != MODEL_OK)
            return Result{Code::OpenFailed, opened == sim::kNoSuchDevice ? name + " is gone"
                                                                         : "can't open " + name + ": " + Describe(opened)};
        DeviceInfo info;
        info.id = devices[instance].id;
        info.used = true;
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunkBytes]);
        link.reset(new Link(info, std::move(transport), std::move(buffer), timeouts));
        return Ok();
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

}  // namespace usblink
