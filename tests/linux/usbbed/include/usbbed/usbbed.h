// The USB test bed of the Linux edition: devices of this family, served to
// plain libusb through umockdev, each with the device model behind it.
//
// A Bed fakes sysfs, udev and /dev/bus/usb/BBB/DDD for the process (and the
// programs it starts): per device a sysfs entry with its ids, bus and device
// numbers, port path and descriptors (one configuration, one interface, bulk
// IN 0x81 and bulk OUT 0x02 with 512-byte packets), the hubs its port path
// goes through, and a device node whose usbdevfs ioctls the Bed answers from
// the model: control transfers are the model's vendor requests, bulk
// transfers its pipe reads and writes, with its knobs and receive log.
//
// The process must run with umockdev's preload library: link usbbed_main
// (a GoogleTest main that starts the program again under it when it runs
// without) or start the program through umockdev-wrapper.
//
// How transfers end, as libusb reports them:
//   - a control request the model refuses stalls (LIBUSB_ERROR_PIPE);
//     a standard GET_DESCRIPTOR of the device answers the model's descriptor;
//   - a failing pipe read or write (VDEV_KNOB_FAIL_READ/_WRITE) ends with an
//     I/O error (LIBUSB_ERROR_IO), a short read moves fewer bytes;
//   - a held read (VDEV_KNOB_PEND_READ) stays pending until the read is
//     released (VDEV_KNOB_RELEASE_READ: it completes with the data), the
//     device is reset (REQ_RESET: it fails with an I/O error), libusb cancels
//     it (its timeout, libusb_cancel_transfer) or the device is unplugged
//     (LIBUSB_ERROR_NO_DEVICE).  Keep its timeout short: libusb polls for it
//     without sleeping until then;
//   - after Unplug every request fails with LIBUSB_ERROR_NO_DEVICE and the
//     device is gone from the list.
// The receive log (devicemodel/model_layout.h) holds CONTROL, READ, WRITE and
// RESET records, and an OPEN of pipe VDEV_PIPE_CONTROL for each open of the
// node (data: the node's path).  Closes are not logged (umockdev does not
// see them), nor interface claims.
//
// Every member may be called from any thread; the ioctls are answered on
// umockdev's own thread, never blocking.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devicemodel/model_layout.h"

namespace usbbed {

// This family's product ids; its maker's id is the model's default vendor.
constexpr uint16_t kVendor = VDEV_DEFAULT_ID_VENDOR;
constexpr uint16_t kProduct = VDEV_DEFAULT_ID_PRODUCT;
constexpr uint16_t kProductV2 = 0xCD02;
constexpr uint8_t kEndpointIn = 0x81;
constexpr uint8_t kEndpointOut = 0x02;

struct DeviceState;

// One device of the bed.  Owned by its Bed; stays valid (unplugged or not)
// until the Bed goes.
class Device {
public:
    explicit Device(std::shared_ptr<DeviceState> state);

    uint8_t Bus() const;
    uint8_t Address() const;
    // "1-1.4", as given to Bed::Add.
    const std::string& PortPath() const;
    // The node, "/dev/bus/usb/001/005".
    std::string Node() const;

    // The model's knob (VDEV_KNOB_*): 0, or the model's failure (an NTSTATUS).
    // VDEV_KNOB_PLUGGED 0 is Bed::Unplug; VDEV_KNOB_RELEASE_READ completes the
    // held read (fails when none is held).  A foreign device takes none.
    int32_t Knob(uint32_t id, uint32_t value, uint32_t value2 = 0);
    // Model memory; false when the range lies outside it (or on a foreign device).
    bool SetMemory(uint32_t byteOffset, const std::vector<uint8_t>& bytes);
    bool GetMemory(uint32_t byteOffset, uint32_t length, std::vector<uint8_t>& bytes);
    // The receive log from sequence number `first` on.
    std::vector<VdevLogRecord> Log(uint32_t first = 0);
    // A read is being held.
    bool ReadHeld();
    // Everything the node received, in order: 0 for an open, else the
    // ioctl's request number.
    std::vector<unsigned long> Requests();

private:
    friend class Bed;
    std::shared_ptr<DeviceState> state_;
};

class Bed {
public:
    // A fresh test bed; its devices appear to this process (and to the
    // programs it starts) at once.  Fails the process, with a message, when
    // umockdev's preload library is not loaded.
    Bed();
    ~Bed();
    Bed(const Bed&) = delete;
    Bed& operator=(const Bed&) = delete;

    // A device of this family at `port`, named as sysfs names it: "1-1.4" is
    // bus 1, port 1 of the root hub, port 4 of the hub there (libusb: bus 1,
    // port numbers {1, 4}); the hubs on the way are added as needed.  A model
    // of `memoryBytes` is behind it, its descriptor set to these ids.  Devices
    // get addresses 2, 3, ... on their bus in the order added (hubs included).
    // nullptr, with `problem`, when the port is taken or malformed.
    Device* Add(uint16_t vendor, uint16_t product, const std::string& port,
                uint32_t memoryBytes = VDEV_DEFAULT_MEMORY_BYTES, std::string* problem = nullptr);
    // Another maker's device (no model): it answers no ioctl and records
    // every open and ioctl (Device::Requests), so that a test can assert it
    // got none.
    Device* AddForeign(uint16_t vendor, uint16_t product, const std::string& port,
                       std::string* problem = nullptr);
    // Pulls the device out: it leaves sysfs and /dev, held transfers end with
    // LIBUSB_ERROR_NO_DEVICE and so does every later request.  Safe while a
    // transfer is in progress on another thread.
    void Unplug(Device& device);

private:
    friend class Device;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace usbbed
