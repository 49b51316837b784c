// The bed as plain libusb sees it: enumeration, the model's answers, faults.
#include <gtest/gtest.h>
#include <libusb.h>

#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "devicemodel/model.h"
#include "usbbed/usbbed.h"

namespace {

using Context = std::unique_ptr<libusb_context, decltype(&libusb_exit)>;
using Handle = std::unique_ptr<libusb_device_handle, decltype(&libusb_close)>;

constexpr unsigned kTimeoutMs = 2000;

Context NewContext()
{
    libusb_context* context = nullptr;
    EXPECT_EQ(libusb_init(&context), 0);
    return Context(context, libusb_exit);
}

Handle Open(libusb_context* context, uint16_t vendor, uint16_t product)
{
    Handle handle(libusb_open_device_with_vid_pid(context, vendor, product), libusb_close);
    EXPECT_NE(handle, nullptr);
    if (handle) {
        EXPECT_EQ(libusb_claim_interface(handle.get(), 0), 0);
    }
    return handle;
}

int Status(libusb_device_handle* handle, uint8_t (&status)[STATUS_STAGE_SIZE])
{
    return libusb_control_transfer(handle, VENDOR_BM_IN, REQ_STATUS, 0, 0, status, sizeof status, kTimeoutMs);
}

// REQ_READ of `words` 16-bit words from word 0: a data phase of 2 * words bytes.
int StartRead(libusb_device_handle* handle, uint32_t words)
{
    uint8_t stage[READ_STAGE_SIZE] = {};
    StagePutWord(stage, 2, words / 2);
    return libusb_control_transfer(handle, VENDOR_BM_OUT, REQ_READ, 0, 0, stage, sizeof stage, kTimeoutMs);
}

int BulkRead(libusb_device_handle* handle, std::vector<uint8_t>& buffer, unsigned timeoutMs = kTimeoutMs)
{
    int moved = 0;
    int result = libusb_bulk_transfer(handle, usbbed::kEndpointIn, buffer.data(), static_cast<int>(buffer.size()),
                                      &moved, timeoutMs);
    buffer.resize(static_cast<size_t>(moved));
    return result;
}

TEST(UsbBed, ListsEachDeviceAtItsPortAndTheOtherMakersDeviceHearsNothing)
{
    usbbed::Bed bed;
    Context context = NewContext();  // before the devices: libusb sees them arrive
    std::string problem;
    usbbed::Device* ours = bed.Add(usbbed::kVendor, usbbed::kProduct, "1-1.4", VDEV_DEFAULT_MEMORY_BYTES, &problem);
    ASSERT_NE(ours, nullptr) << problem;
    usbbed::Device* theirs = bed.AddForeign(0x1234, usbbed::kProductV2, "2-3", &problem);
    ASSERT_NE(theirs, nullptr) << problem;
    EXPECT_EQ(bed.Add(usbbed::kVendor, usbbed::kProduct, "1-1.4", VDEV_DEFAULT_MEMORY_BYTES, &problem), nullptr);
    EXPECT_EQ(problem, "port 1-1.4 is taken");

    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context.get(), &list);
    int seen = 0;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor;
        ASSERT_EQ(libusb_get_device_descriptor(list[i], &descriptor), 0);
        uint8_t ports[8];
        int depth = libusb_get_port_numbers(list[i], ports, sizeof ports);
        std::vector<uint8_t> path(ports, ports + (depth > 0 ? depth : 0));
        SCOPED_TRACE(descriptor.idVendor);
        if (descriptor.idVendor == usbbed::kVendor) {
            ++seen;
            EXPECT_EQ(descriptor.idProduct, usbbed::kProduct);
            EXPECT_EQ(libusb_get_bus_number(list[i]), 1);
            EXPECT_EQ(libusb_get_device_address(list[i]), ours->Address());
            EXPECT_EQ(path, (std::vector<uint8_t>{1, 4}));
        } else if (descriptor.idVendor == 0x1234) {
            ++seen;
            EXPECT_EQ(descriptor.idProduct, usbbed::kProductV2);
            EXPECT_EQ(libusb_get_bus_number(list[i]), 2);
            EXPECT_EQ(path, (std::vector<uint8_t>{3}));
        }
    }
    libusb_free_device_list(list, 1);
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(theirs->Requests(), std::vector<unsigned long>());
    EXPECT_EQ(ours->Requests(), std::vector<unsigned long>());

    // What an open would have left: the open, then libusb's first ioctl.
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(context.get(), 0x1234, usbbed::kProductV2);
    ASSERT_NE(handle, nullptr);
    libusb_close(handle);
    std::vector<unsigned long> requests = theirs->Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0], 0u);
}

TEST(UsbBed, AnswersStatusAndReadsMemoryThroughTheModel)
{
    usbbed::Bed bed;
    std::string problem;
    usbbed::Device* device = bed.Add(usbbed::kVendor, usbbed::kProduct, "1-2", 1u << 20, &problem);
    ASSERT_NE(device, nullptr) << problem;
    std::vector<uint8_t> memory(3 * 512 + 100);
    for (size_t i = 0; i < memory.size(); ++i)
        memory[i] = static_cast<uint8_t>(i * 7 + 1);
    ASSERT_TRUE(device->SetMemory(0, memory));
    ASSERT_EQ(device->Knob(VDEV_KNOB_STATUS_BYTES, 0x44332211u, 0x776655u), 0);

    Context context = NewContext();
    Handle handle = Open(context.get(), usbbed::kVendor, usbbed::kProduct);
    ASSERT_NE(handle, nullptr);
    uint8_t status[STATUS_STAGE_SIZE];
    ASSERT_EQ(Status(handle.get(), status), 8);
    EXPECT_EQ(std::vector<uint8_t>(status, status + 8), (std::vector<uint8_t>{0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}));
    ASSERT_EQ(StartRead(handle.get(), static_cast<uint32_t>(memory.size() / 2)), static_cast<int>(READ_STAGE_SIZE));
    std::vector<uint8_t> read(memory.size());
    ASSERT_EQ(BulkRead(handle.get(), read), 0);
    EXPECT_EQ(read, memory);

    std::vector<VdevLogRecord> log = device->Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].type, VDEV_LOG_OPEN);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(log[0].data), log[0].dataLen), device->Node());
    EXPECT_EQ(log[1].type, VDEV_LOG_CONTROL);
    EXPECT_EQ(log[1].data[4], REQ_STATUS);
    EXPECT_EQ(log[2].data[4], REQ_READ);
    EXPECT_EQ(log[3].type, VDEV_LOG_READ);
    EXPECT_EQ(log[3].b, memory.size());
}

// Each fault knob as libusb sees it, and what the log says of it.
TEST(UsbBed, FaultKnobsEndTransfersAsARealDeviceWould)
{
    struct Case {
        const char* name;
        uint32_t knob, value, value2;
        uint16_t logType;  // what meets the fault: a status request, a bulk read or write of 64 bytes
        int result;
        size_t moved;
        ModelStatus logged;  // of the request's log record
    };
    const Case cases[] = {
        {"failed control", VDEV_KNOB_FAIL_CONTROL, 1, 0, VDEV_LOG_CONTROL, LIBUSB_ERROR_PIPE, 0, MODEL_FAILED},
        {"failed read", VDEV_KNOB_FAIL_READ, 1, 0, VDEV_LOG_READ, LIBUSB_ERROR_IO, 0, MODEL_FAILED},
        {"short read", VDEV_KNOB_SHORT_READ, 1, 10, VDEV_LOG_READ, 0, 10, MODEL_OK},
        {"held read, timed out", VDEV_KNOB_PEND_READ, 1, 0, VDEV_LOG_READ, LIBUSB_ERROR_TIMEOUT, 0, MODEL_CANCELLED},
        {"failed write", VDEV_KNOB_FAIL_WRITE, 1, 0, VDEV_LOG_WRITE, LIBUSB_ERROR_IO, 0, MODEL_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        usbbed::Bed bed;
        std::string problem;
        usbbed::Device* device = bed.Add(usbbed::kVendor, usbbed::kProduct, "1-1", VDEV_DEFAULT_MEMORY_BYTES, &problem);
        ASSERT_NE(device, nullptr) << problem;
        Context context = NewContext();
        Handle handle = Open(context.get(), usbbed::kVendor, usbbed::kProduct);
        ASSERT_NE(handle, nullptr);
        if (c.logType == VDEV_LOG_READ) {
            ASSERT_EQ(StartRead(handle.get(), 32), static_cast<int>(READ_STAGE_SIZE));
        }
        ASSERT_EQ(device->Knob(c.knob, c.value, c.value2), 0);
        std::vector<uint8_t> data(64);
        uint8_t status[STATUS_STAGE_SIZE];
        int moved = 0;
        if (c.logType == VDEV_LOG_CONTROL) {
            EXPECT_EQ(Status(handle.get(), status), c.result);
        } else if (c.logType == VDEV_LOG_READ) {
            EXPECT_EQ(BulkRead(handle.get(), data, 100), c.result);
            EXPECT_EQ(data.size(), c.moved);
        } else {
            EXPECT_EQ(libusb_bulk_transfer(handle.get(), usbbed::kEndpointOut, data.data(), 64, &moved, kTimeoutMs),
                      c.result);
            EXPECT_EQ(static_cast<size_t>(moved), c.moved);
        }
        EXPECT_FALSE(device->ReadHeld());
        std::vector<VdevLogRecord> log = device->Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().type, c.logType);
        EXPECT_EQ(static_cast<ModelStatus>(log.back().c), c.logged);
    }
}

// Programs the test starts see the bed too: the preload and the bed's folder
// are in their environment.
TEST(UsbBed, AChildProcessReachesTheSameModel)
{
    usbbed::Bed bed;
    std::string problem;
    usbbed::Device* device = bed.Add(usbbed::kVendor, usbbed::kProduct, "1-1", VDEV_DEFAULT_MEMORY_BYTES, &problem);
    ASSERT_NE(device, nullptr) << problem;
    ASSERT_EQ(device->Knob(VDEV_KNOB_ERROR_AT_POLL, 1), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        libusb_context* context = nullptr;
        libusb_device_handle* handle = nullptr;
        uint8_t status[STATUS_STAGE_SIZE] = {};
        bool answered = libusb_init(&context) == 0 &&
                        (handle = libusb_open_device_with_vid_pid(context, usbbed::kVendor, usbbed::kProduct)) &&
                        Status(handle, status) == STATUS_STAGE_SIZE;
        _exit(answered ? status[0] : 255);
    }
    int exitStatus = 0;
    ASSERT_EQ(waitpid(child, &exitStatus, 0), child);
    ASSERT_TRUE(WIFEXITED(exitStatus));
    EXPECT_EQ(WEXITSTATUS(exitStatus), STATUS_ERROR);
    std::vector<VdevLogRecord> log = device->Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].type, VDEV_LOG_CONTROL);
}

// What ends a read the device holds, done on another thread while libusb waits.
TEST(UsbBed, EndsAHeldReadAsAnotherThreadSays)
{
    enum class End { kRelease, kReset, kUnplug };
    struct Case {
        const char* name;
        End end;
        int result;
        size_t moved;
    };
    const Case cases[] = {
        {"released", End::kRelease, 0, 64},
        {"reset", End::kReset, LIBUSB_ERROR_IO, 0},
        {"unplugged", End::kUnplug, LIBUSB_ERROR_NO_DEVICE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        usbbed::Bed bed;
        std::string problem;
        usbbed::Device* device = bed.Add(usbbed::kVendor, usbbed::kProduct, "1-1", VDEV_DEFAULT_MEMORY_BYTES, &problem);
        ASSERT_NE(device, nullptr) << problem;
        std::vector<uint8_t> memory(64, 0x5A);
        ASSERT_TRUE(device->SetMemory(0, memory));
        Context context = NewContext();
        Handle handle = Open(context.get(), usbbed::kVendor, usbbed::kProduct);
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(StartRead(handle.get(), 32), static_cast<int>(READ_STAGE_SIZE));
        ASSERT_EQ(device->Knob(VDEV_KNOB_PEND_READ, 1), 0);
        std::thread other([&] {
            for (int i = 0; i < 10000000 && !device->ReadHeld(); ++i)
                std::this_thread::yield();
            if (c.end == End::kRelease)
                EXPECT_EQ(device->Knob(VDEV_KNOB_RELEASE_READ, 0), 0);
            else if (c.end == End::kReset)
                EXPECT_EQ(libusb_control_transfer(handle.get(), VENDOR_BM_OUT, REQ_RESET, 0, 0, nullptr, 0, kTimeoutMs), 0);
            else
                bed.Unplug(*device);
        });
        std::vector<uint8_t> read(64);
        EXPECT_EQ(BulkRead(handle.get(), read, 10000), c.result);
        other.join();
        EXPECT_EQ(read.size(), c.moved);
        if (c.moved) {
            EXPECT_EQ(read, memory);
        }
        EXPECT_FALSE(device->ReadHeld());
        if (c.end == End::kUnplug) {
            uint8_t status[STATUS_STAGE_SIZE];
            EXPECT_EQ(Status(handle.get(), status), LIBUSB_ERROR_NO_DEVICE);
            EXPECT_EQ(libusb_open_device_with_vid_pid(context.get(), usbbed::kVendor, usbbed::kProduct), nullptr);
        }
    }
}

}  // namespace
