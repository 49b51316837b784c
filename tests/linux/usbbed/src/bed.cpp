// The test bed: sysfs entries and device nodes through umockdev, and the
// usbdevfs ioctls of each node answered from the device model.
#include "usbbed/usbbed.h"

// clang-format off
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
// clang-format on

#include <umockdev.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

#include "devicemodel/model.h"
#include "preload.h"

namespace usbbed {
namespace {

constexpr int32_t kInvalidDeviceState = static_cast<int32_t>(0xC0000184u); // STATUS_INVALID_DEVICE_STATE
constexpr int32_t kNoSuchDevice = static_cast<int32_t>(0xC000000Eu);       // STATUS_NO_SUCH_DEVICE
constexpr uint16_t kPacketBytes = 512;
constexpr unsigned kUsbMajor = 189;

// One mapped piece of the client's memory.
class ClientData {
public:
    ClientData(UMockdevIoctlData* parent, size_t offset, size_t length)
    {
        GError* error = nullptr;
        data_ = umockdev_ioctl_data_resolve(parent, offset, length, &error);
        if (error)
            g_error_free(error);
    }
    ~ClientData()
    {
        if (data_)
            umockdev_ioctl_data_unref(data_);
    }
    ClientData(const ClientData&) = delete;
    ClientData& operator=(const ClientData&) = delete;
    explicit operator bool() const { return data_ != nullptr; }
    UMockdevIoctlData* get() const { return data_; }
    uint8_t* bytes() const { return data_->data; }
    unsigned long address() const { return data_->client_addr; }

private:
    UMockdevIoctlData* data_ = nullptr;
};

void PutDescriptorWord(std::vector<uint8_t>& d, uint16_t value)
{
    d.push_back(static_cast<uint8_t>(value));
    d.push_back(static_cast<uint8_t>(value >> 8));
}

// The kernel's `descriptors` file: device descriptor, then the configuration
// with its interface and endpoints.
std::vector<uint8_t> Descriptors(uint16_t vendor, uint16_t product, uint16_t bcd, bool hub)
{
    std::vector<uint8_t> d = {18, 1, 0x00, 0x02, hub ? uint8_t{9} : uint8_t{0xFF}, 0, hub ? uint8_t{1} : uint8_t{0}, 64};
    PutDescriptorWord(d, vendor);
    PutDescriptorWord(d, product);
    PutDescriptorWord(d, bcd);
    d.insert(d.end(), {0, 0, 0, 1});
    if (hub) {
        d.insert(d.end(), {9, 2, 25, 0, 1, 1, 0, 0xE0, 0});
        d.insert(d.end(), {9, 4, 0, 0, 1, 9, 0, 0, 0});
        d.insert(d.end(), {7, 5, 0x81, 3, 4, 0, 12});
    } else {
        d.insert(d.end(), {9, 2, 32, 0, 1, 1, 0, 0x80, 50});
        d.insert(d.end(), {9, 4, 0, 0, 2, 0xFF, 0, 0, 0});
        d.insert(d.end(), {7, 5, kEndpointIn, 2});
        PutDescriptorWord(d, kPacketBytes);
        d.push_back(0);
        d.insert(d.end(), {7, 5, kEndpointOut, 2});
        PutDescriptorWord(d, kPacketBytes);
        d.push_back(0);
    }
    return d;
}

// Upper case: umockdev reads a node's contents in no other.
std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        text += two;
    }
    return text;
}

std::string NodeName(uint8_t bus, uint8_t address)
{
    char name[32];
    std::snprintf(name, sizeof name, "/dev/bus/usb/%03u/%03u", bus, address);
    return name;
}

std::string HexNumber(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

// A device in umockdev's text form; with a node when `node`.
std::string DeviceRecord(const std::string& sysPath, uint8_t bus, uint8_t address, uint16_t vendor,
                         uint16_t product, bool hub, bool node)
{
    const uint16_t bcd = hub ? 0x0600 : VDEV_DEFAULT_BCD_DEVICE;
    const std::string hex = Hex(Descriptors(vendor, product, bcd, hub));
    const std::string minor = std::to_string((bus - 1u) * 128u + (address - 1u));
    const std::string devName = NodeName(bus, address);
    char busText[4], addressText[4];
    std::snprintf(busText, sizeof busText, "%03u", bus);
    std::snprintf(addressText, sizeof addressText, "%03u", address);
    std::string r = "P: " + sysPath + "\n";
    if (node)
        r += "N: " + devName.substr(5) + "=" + hex + "\n";
    r += "E: DEVNAME=" + devName + "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n";
    r += "E: BUSNUM=" + std::string(busText) + "\nE: DEVNUM=" + addressText + "\n";
    r += "E: MAJOR=" + std::to_string(kUsbMajor) + "\nE: MINOR=" + minor + "\n";
    r += "E: PRODUCT=" + HexNumber(vendor, 1) + "/" + HexNumber(product, 1) + "/" + HexNumber(bcd, 1) + "\n";
    r += "A: busnum=" + std::to_string(bus) + "\nA: devnum=" + std::to_string(address) + "\n";
    r += "A: speed=480\nA: bConfigurationValue=1\nA: bNumConfigurations=1\n";
    r += "A: idVendor=" + HexNumber(vendor, 4) + "\nA: idProduct=" + HexNumber(product, 4) + "\n";
    r += "A: bcdDevice=" + HexNumber(bcd, 4) + "\nA: dev=" + std::to_string(kUsbMajor) + ":" + minor + "\n";
    return r + "H: descriptors=" + hex + "\n";
}

// "1-1.4": bus 1, ports {1, 4}.
bool ParsePort(const std::string& port, unsigned& bus, std::vector<unsigned>& ports)
{
    size_t dash = port.find('-');
    if (dash == std::string::npos || dash == 0)
        return false;
    auto number = [](const std::string& text, unsigned& value) {
        if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
            return false;
        value = static_cast<unsigned>(std::stoul(text));
        return value >= 1 && value <= 255;
    };
    if (!number(port.substr(0, dash), bus))
        return false;
    ports.clear();
    size_t at = dash + 1;
    while (true) {
        size_t dot = port.find('.', at);
        unsigned value;
        if (!number(port.substr(at, dot == std::string::npos ? std::string::npos : dot - at), value))
            return false;
        ports.push_back(value);
        if (dot == std::string::npos)
            break;
        at = dot + 1;
    }
    return ports.size() <= 7;
}

}  // namespace

// What a finished URB still needs when it is reaped.
struct Reaped {
    unsigned long address = 0;
    bool update = false;  // write status, length and data into the URB at the reap
    int status = 0;
    std::vector<uint8_t> data;
};

struct HeldRead {
    UMockdevIoctlClient* client;
    unsigned long address;
    uint32_t size;
};

struct DeviceState {
    DeviceState(uint8_t bus, uint8_t address, std::string port, std::string sysPath, bool foreign)
        : bus(bus), address(address), port(std::move(port)), sysPath(std::move(sysPath)), foreign(foreign)
    {
    }
    ~DeviceState()
    {
        for (auto& entry : reaped)
            g_object_unref(entry.first);
        if (modelReady)
            ModelFree(&model);
    }

    void Handle(UMockdevIoctlClient* client);
    void Connected(UMockdevIoctlClient* client);
    void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void Control(const uint8_t* setup, uint8_t* stage, uint16_t length, int& status, uint32_t& actual);
    // Ends the held read: with the model's data when `deliver`, else with `status`.
    void EndHeldRead(bool deliver, int status, int32_t logged);
    void Finish(UMockdevIoctlClient* client, Reaped done);

    const uint8_t bus;
    const uint8_t address;
    const std::string port;
    const std::string sysPath;
    const bool foreign;
    Bed* owner = nullptr;

    std::mutex mutex;
    DeviceModel model{};
    bool modelReady = false;
    bool gone = false;
    std::vector<unsigned long> requests;
    std::map<UMockdevIoctlClient*, std::deque<Reaped>> reaped;
    std::optional<HeldRead> held;
};

namespace {

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer state)
{
    static_cast<DeviceState*>(state)->Handle(client);
    return TRUE;
}

void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer state)
{
    static_cast<DeviceState*>(state)->Connected(client);
}

void Answer(UMockdevIoctlClient* client, long result, int error = 0)
{
    umockdev_ioctl_client_complete(client, result, error);
}

// The unsigned int an ioctl's argument points at; false when unreadable.
bool ArgumentWord(UMockdevIoctlData* arg, unsigned& value)
{
    ClientData word(arg, 0, sizeof value);
    if (!word)
        return false;
    std::memcpy(&value, word.bytes(), sizeof value);
    return true;
}

}  // namespace

void DeviceState::Finish(UMockdevIoctlClient* client, Reaped done)
{
    auto found = reaped.find(client);
    if (found == reaped.end()) {
        g_object_ref(client);
        found = reaped.emplace(client, std::deque<Reaped>()).first;
    }
    found->second.push_back(std::move(done));
}

// An open of the node, logged as an open of the device itself (pipe
// VDEV_PIPE_CONTROL) with the node as the path.
void DeviceState::Connected(UMockdevIoctlClient* client)
{
    const char* node = umockdev_ioctl_client_get_devnode(client);
    std::lock_guard<std::mutex> lock(mutex);
    requests.push_back(0);
    if (!foreign)
        ModelLog(&model, VDEV_LOG_OPEN, VDEV_PIPE_CONTROL, 0, 0, MODEL_OK, node, node ? std::strlen(node) : 0, 0);
}

void DeviceState::Handle(UMockdevIoctlClient* client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(mutex);
    requests.push_back(request);
    if (foreign)
        return Answer(client, -1, ENOTTY);
    if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB)
        return Reap(client, arg);
    if (gone)
        return Answer(client, -1, ENODEV);
    unsigned word = 0;
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        // Only this: with bulk continuation libusb would split each transfer.
        ClientData caps(arg, 0, sizeof(uint32_t));
        if (!caps)
            return Answer(client, -1, EFAULT);
        const uint32_t value = USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        std::memcpy(caps.bytes(), &value, sizeof value);
        return Answer(client, 0);
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
        if (!ArgumentWord(arg, word))
            return Answer(client, -1, EFAULT);
        return word == 0 ? Answer(client, 0) : Answer(client, -1, ENOENT);
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_RESETEP:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
    case USBDEVFS_DISCONNECT_CLAIM:
        return Answer(client, 0);
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
        return Answer(client, -1, ENODATA);  // no kernel driver to detach
    case USBDEVFS_SUBMITURB:
        return Submit(client, arg);
    case USBDEVFS_DISCARDURB:
        return Discard(client, arg);
    default:
        return Answer(client, -1, ENOTTY);
    }
}

void DeviceState::Control(const uint8_t* setup, uint8_t* stage, uint16_t length, int& status, uint32_t& actual)
{
    VendorCommandBlock block;
    block.bmRequestType = setup[0];
    block.direction = (setup[0] & 0x80u) ? VENDOR_DEVICE_TO_HOST : VENDOR_HOST_TO_DEVICE;
    block.requestType = (setup[0] >> 5) & 3u;
    block.recipient = setup[0] & 0x1Fu;
    block.bRequest = setup[1];
    block.reserved = 0;
    block.wValue = static_cast<uint16_t>(setup[2] | (setup[3] << 8));
    block.wIndex = static_cast<uint16_t>(setup[4] | (setup[5] << 8));
    block.wLength = length;
    uint32_t moved = 0;
    ModelStatus result;
    if (setup[0] == 0x80 && setup[1] == 6 && setup[3] == 1) {
        // GET_DESCRIPTOR(DEVICE): the model's descriptor, cut to the request.
        uint8_t descriptor[sizeof(UsbDeviceDescriptor)];
        result = ModelControl(&model, IOCTL_GET_DEVICE_DESCRIPTOR, nullptr, 0, descriptor, sizeof descriptor, &moved);
        moved = moved < length ? moved : length;
        std::memcpy(stage, descriptor, moved);
    } else {
        result = ModelControl(&model, IOCTL_VENDOR_REQUEST, reinterpret_cast<const uint8_t*>(&block), sizeof block,
                              length ? stage : nullptr, length, &moved);
    }
    if (result != MODEL_OK) {
        status = -EPIPE;  // a refused request stalls
        actual = 0;
        return;
    }
    status = 0;
    actual = moved;
    if (block.requestType == VENDOR_REQUEST_TYPE && block.bRequest == REQ_RESET) {
        ModelLog(&model, VDEV_LOG_RESET, VDEV_PIPE_CONTROL, block.wIndex, held ? 1u : 0u, 0, nullptr, 0, 0);
        EndHeldRead(false, -EPROTO, MODEL_CANCELLED);
    }
}

void DeviceState::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    ClientData urbData(arg, 0, sizeof(usbdevfs_urb));
    if (!urbData)
        return Answer(client, -1, EFAULT);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData.bytes());
    if (urb->buffer_length < 0)
        return Answer(client, -1, EINVAL);
    const uint32_t size = static_cast<uint32_t>(urb->buffer_length);
    std::optional<ClientData> buffer;
    uint8_t* bytes = nullptr;
    if (size) {
        buffer.emplace(urbData.get(), offsetof(usbdevfs_urb, buffer), size);
        if (!*buffer)
            return Answer(client, -1, EFAULT);
        bytes = buffer->bytes();
    }
    int status = 0;
    uint32_t actual = 0;
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL && urb->endpoint == 0) {
        if (size < 8 || size - 8 < static_cast<uint32_t>(bytes[6] | (bytes[7] << 8)))
            return Answer(client, -1, EINVAL);
        Control(bytes, bytes + 8, static_cast<uint16_t>(bytes[6] | (bytes[7] << 8)), status, actual);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == kEndpointIn) {
        switch (ModelPlanRead(&model)) {
        case READ_FAIL:
            status = -EPROTO;
            ModelLog(&model, VDEV_LOG_READ, VDEV_PIPE_IN, size, 0, static_cast<uint32_t>(MODEL_FAILED), nullptr, 0, 0);
            break;
        case READ_HOLD:
            if (held)
                return Answer(client, -1, EBUSY);
            held = HeldRead{client, urbData.address(), size};
            return Answer(client, 0);  // reaped once released, reset, cancelled or unplugged
        case READ_NORMAL:
            actual = ModelPipeRead(&model, bytes, ModelReadLimit(&model, size));
            ModelLog(&model, VDEV_LOG_READ, VDEV_PIPE_IN, size, actual, MODEL_OK, bytes, actual, 0);
            break;
        }
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == kEndpointOut) {
        ModelStatus result = MODEL_FAILED;
        if (!ModelWriteFails(&model))
            result = ModelPipeWrite(&model, bytes, size, &actual);
        ModelLog(&model, VDEV_LOG_WRITE, VDEV_PIPE_OUT, size, actual, static_cast<uint32_t>(result), bytes, size, 0);
        status = result == MODEL_OK ? 0 : -EPROTO;
    } else {
        return Answer(client, -1, urb->type == USBDEVFS_URB_TYPE_BULK ? ENOENT : EINVAL);
    }
    urb->status = status;
    urb->actual_length = static_cast<int>(actual);
    Reaped done;
    done.address = urbData.address();
    Finish(client, std::move(done));
    Answer(client, 0);
}

void DeviceState::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    auto found = reaped.find(client);
    if (found == reaped.end() || found->second.empty())
        return Answer(client, -1, gone ? ENODEV : EAGAIN);
    Reaped done = std::move(found->second.front());
    found->second.pop_front();
    ClientData slot(arg, 0, sizeof(void*));
    if (!slot)
        return Answer(client, -1, EFAULT);
    std::memcpy(slot.bytes(), &done.address, sizeof(void*));
    if (done.update) {
        // A URB that ended after its submit: its fields are written now.
        ClientData urbData(slot.get(), 0, sizeof(usbdevfs_urb));
        if (!urbData)
            return Answer(client, -1, EFAULT);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData.bytes());
        urb->status = done.status;
        urb->actual_length = static_cast<int>(done.data.size());
        if (!done.data.empty()) {
            ClientData buffer(urbData.get(), offsetof(usbdevfs_urb, buffer), done.data.size());
            if (!buffer)
                return Answer(client, -1, EFAULT);
            std::memcpy(buffer.bytes(), done.data.data(), done.data.size());
        }
    }
    Answer(client, 0);
}

void DeviceState::Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    unsigned long address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    if (!held || held->client != client || held->address != address)
        return Answer(client, -1, EINVAL);  // done already, or never submitted
    ModelLog(&model, VDEV_LOG_READ, VDEV_PIPE_IN, held->size, 0, static_cast<uint32_t>(MODEL_CANCELLED), nullptr, 0, 0);
    Reaped done;
    done.address = address;
    done.update = true;
    done.status = -ENOENT;
    held.reset();
    Finish(client, std::move(done));
    Answer(client, 0);
}

void DeviceState::EndHeldRead(bool deliver, int status, int32_t logged)
{
    if (!held)
        return;
    Reaped done;
    done.address = held->address;
    done.update = true;
    done.status = status;
    if (deliver) {
        done.data.resize(held->size);
        const uint32_t moved = ModelPipeRead(&model, done.data.data(), ModelReadLimit(&model, held->size));
        done.data.resize(moved);
    }
    ModelLog(&model, VDEV_LOG_READ, VDEV_PIPE_IN, held->size, static_cast<uint32_t>(done.data.size()),
             static_cast<uint32_t>(logged), done.data.data(), static_cast<uint32_t>(done.data.size()), 0);
    UMockdevIoctlClient* client = held->client;
    held.reset();
    Finish(client, std::move(done));
}

struct Bed::Impl {
    explicit Impl(Bed* owner) : owner(owner) {}
    ~Impl()
    {
        if (testbed)
            g_object_unref(testbed);
        for (UMockdevIoctlBase* handler : handlers)
            g_object_unref(handler);
    }

    Device* AddDevice(uint16_t vendor, uint16_t product, const std::string& port, uint32_t memoryBytes,
                      bool foreign, std::string* problem);
    bool AddRecord(const std::string& record, std::string* problem);

    Bed* owner;
    UMockdevTestbed* testbed = nullptr;
    std::mutex mutex;
    std::map<std::string, bool> present;    // sysfs name -> is a hub
    std::map<unsigned, uint8_t> lastAddress; // per bus
    std::vector<UMockdevIoctlBase*> handlers;
    std::vector<std::unique_ptr<Device>> devices;
};

bool Bed::Impl::AddRecord(const std::string& record, std::string* problem)
{
    GError* error = nullptr;
    if (umockdev_testbed_add_from_string(testbed, record.c_str(), &error))
        return true;
    if (problem)
        *problem = std::string("umockdev refused the device: ") + (error ? error->message : "?");
    if (error)
        g_error_free(error);
    return false;
}

Device* Bed::Impl::AddDevice(uint16_t vendor, uint16_t product, const std::string& port, uint32_t memoryBytes,
                             bool foreign, std::string* problem)
{
    std::lock_guard<std::mutex> lock(mutex);
    unsigned bus;
    std::vector<unsigned> ports;
    auto fail = [problem](const std::string& why) -> Device* {
        if (problem)
            *problem = why;
        return nullptr;
    };
    if (!ParsePort(port, bus, ports))
        return fail("port \"" + port + "\" is not of the form 1-1.4");
    if (present.count(port))
        return fail("port " + port + " is taken");
    // The root hub, then each hub on the way.
    std::string sysPath = "/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(bus);
    std::string name = std::to_string(bus) + "-";
    std::vector<std::pair<std::string, std::string>> hubs = {{"usb" + std::to_string(bus), sysPath}};
    for (size_t i = 0; i + 1 < ports.size(); ++i) {
        name += std::to_string(ports[i]);
        sysPath += "/" + name;
        hubs.emplace_back(name, sysPath);
        name += ".";
    }
    name += std::to_string(ports.back());
    sysPath += "/" + name;
    for (const auto& hub : hubs) {
        auto found = present.find(hub.first);
        if (found != present.end() && !found->second)
            return fail("port " + hub.first + " holds a device, not a hub");
    }
    uint8_t& last = lastAddress[bus];
    for (const auto& hub : hubs) {
        if (present.count(hub.first))
            continue;
        if (last >= 127)
            return fail("bus " + std::to_string(bus) + " has no address left");
        const bool root = hub.first.compare(0, 3, "usb") == 0;
        if (!AddRecord(DeviceRecord(hub.second, static_cast<uint8_t>(bus), ++last, 0x1D6B, root ? 2 : 0x0100, true,
                                    false),
                       problem))
            return nullptr;
        present[hub.first] = true;
    }
    if (last >= 127)
        return fail("bus " + std::to_string(bus) + " has no address left");
    const uint8_t address = ++last;
    auto state = std::make_shared<DeviceState>(static_cast<uint8_t>(bus), address, port, sysPath, foreign);
    state->owner = owner;
    if (!foreign) {
        VdevKnob ids = {VDEV_KNOB_DESCRIPTOR, vendor | (static_cast<uint32_t>(product) << 16), VDEV_DEFAULT_BCD_DEVICE};
        VdevKnob size = {VDEV_KNOB_MEMORY_BYTES, memoryBytes, 0};
        if (ModelInit(&state->model, address) != MODEL_OK)
            return fail("no memory for the model");
        state->modelReady = true;
        if (ModelKnob(&state->model, &size) != MODEL_OK)
            return fail("the model takes no memory size " + std::to_string(memoryBytes));
        ModelKnob(&state->model, &ids);
    }
    if (!AddRecord(DeviceRecord(sysPath, static_cast<uint8_t>(bus), address, vendor, product, false, true), problem))
        return nullptr;
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    handlers.push_back(handler);
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnIoctl), state.get());
    g_signal_connect(handler, "client-connected", G_CALLBACK(OnConnected), state.get());
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, NodeName(static_cast<uint8_t>(bus), address).c_str(), handler,
                                       &error)) {
        std::string why = std::string("umockdev attached no handler: ") + (error ? error->message : "?");
        if (error)
            g_error_free(error);
        return fail(why);
    }
    present[port] = false;
    devices.push_back(std::make_unique<Device>(state));
    return devices.back().get();
}

Bed::Bed() : impl_(std::make_unique<Impl>(this))
{
    if (!PreloadLoaded()) {
        std::fprintf(stderr, "usbbed: umockdev's preload library is not loaded: link usbbed_main or run the "
                             "program through umockdev-wrapper\n");
        std::exit(2);
    }
    impl_->testbed = umockdev_testbed_new();
}

Bed::~Bed() = default;

Device* Bed::Add(uint16_t vendor, uint16_t product, const std::string& port, uint32_t memoryBytes,
                 std::string* problem)
{
    return impl_->AddDevice(vendor, product, port, memoryBytes, false, problem);
}

Device* Bed::AddForeign(uint16_t vendor, uint16_t product, const std::string& port, std::string* problem)
{
    return impl_->AddDevice(vendor, product, port, VDEV_DEFAULT_MEMORY_BYTES, true, problem);
}

void Bed::Unplug(Device& device)
{
    DeviceState& state = *device.state_;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.gone)
            return;
        state.gone = true;
        if (!state.foreign)
            state.EndHeldRead(false, -ESHUTDOWN, kNoSuchDevice);
    }
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const std::string sysPath = "/sys" + state.sysPath;
    umockdev_testbed_uevent(impl_->testbed, sysPath.c_str(), "remove");
    umockdev_testbed_remove_device(impl_->testbed, sysPath.c_str());
    impl_->present.erase(state.port);
}

Device::Device(std::shared_ptr<DeviceState> state) : state_(std::move(state)) {}

uint8_t Device::Bus() const { return state_->bus; }
uint8_t Device::Address() const { return state_->address; }
const std::string& Device::PortPath() const { return state_->port; }
std::string Device::Node() const { return NodeName(state_->bus, state_->address); }

int32_t Device::Knob(uint32_t id, uint32_t value, uint32_t value2)
{
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (state_->foreign)
        return MODEL_BAD_REQUEST;
    if (id == VDEV_KNOB_PLUGGED) {
        if (value)
            return state_->gone ? MODEL_BAD_PARAMETER : MODEL_OK;  // a device once pulled stays out
        lock.unlock();
        state_->owner->Unplug(*this);
        return MODEL_OK;
    }
    if (id == VDEV_KNOB_RELEASE_READ) {
        if (!state_->held)
            return kInvalidDeviceState;
        state_->EndHeldRead(true, 0, MODEL_OK);
        return MODEL_OK;
    }
    const VdevKnob knob = {id, value, value2};
    return ModelKnob(&state_->model, &knob);
}

bool Device::SetMemory(uint32_t byteOffset, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return !state_->foreign &&
           ModelSetMemory(&state_->model, byteOffset, bytes.data(), static_cast<uint32_t>(bytes.size())) == MODEL_OK;
}

bool Device::GetMemory(uint32_t byteOffset, uint32_t length, std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    bytes.assign(length, 0);
    return !state_->foreign && ModelGetMemory(&state_->model, byteOffset, bytes.data(), length) == MODEL_OK;
}

std::vector<VdevLogRecord> Device::Log(uint32_t first)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<VdevLogRecord> records;
    if (state_->foreign)
        return records;
    records.resize(VDEV_LOG_CAPACITY);
    records.resize(ModelCopyLog(&state_->model, first, records.data(), VDEV_LOG_CAPACITY));
    return records;
}

bool Device::ReadHeld()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->held.has_value();
}

std::vector<unsigned long> Device::Requests()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->requests;
}

}  // namespace usbbed
