// The simulated devices: the virtual device's own model, kept in files of a
// per-user folder so that every process which loads the simulated library,
// and the tools that script it, see the same devices.
//
// The folder holds devices.ini (what the devices are: settings.h), the state
// file (each instance's model state, knobs and request log) and one memory
// image a device (device<N>.img).  A lock serialises every request of every
// process, and a wake tells a held read and the notification watchers to look
// again (sim/system.h: on Windows a named mutex and event, elsewhere a lock
// file and polling).  Files and names are the same for 32- and 64-bit processes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devicemodel/model.h"
#include "sim/settings.h"
#include "sim/system.h"

namespace sim {

constexpr uint32_t kMaxKnobs = 32;
constexpr uint32_t kModelStateRoom = 1024;
static_assert(MODEL_STATE_BYTES <= kModelStateRoom, "the state file's room for a model");
constexpr uint32_t kMaxPages = (VDEV_MAX_MEMORY_BYTES >> MODEL_PAGE_SHIFT) + 1;

// Where a held pipe read stands.
enum HeldRead : uint32_t { kNotHeld, kHeld, kHeldCancelled, kHeldReleased };

// One instance in the state file.
struct InstanceRecord {
    uint8_t model[kModelStateRoom];  // the model's state (MODEL_STATE_BYTES of it)
    GUID interfaceClass;
    uint32_t plugged;
    uint32_t plugChanges;             // counts plugs and unplugs: a watcher sees an unplug and plug between two looks
    uint32_t heldRead;                // HeldRead
    uint32_t heldSeq;                 // counts holds: a waiter knows its own
    uint32_t heldBy;                  // the process whose read is held
    uint32_t knobCount;               // knobs set since the settings were applied, in order
    VdevKnob knobs[kMaxKnobs];
    uint8_t written[kMaxPages / 8];   // pages written since memory was last cleared; the rest read 0
    VdevLogRecord log[VDEV_LOG_CAPACITY];
};

struct StoreHeader {
    char magic[8];
    uint32_t layout;
    uint32_t instanceCount;
    uint32_t plugGeneration;  // counts plugs and unplugs, for the notification watchers
    SettingsStamp settingsStamp; // devices.ini as last applied (zero: none)
    char settingsProblem[256]; // why devices.ini could not be applied ("": it was)
    InstanceRecord instances[kMaxInstances];
};

// The folder: UXFERSIM_HOME where set, else on Windows %LOCALAPPDATA%\uXferSim,
// elsewhere $XDG_STATE_HOME/uxfer-sim (~/.local/state/uxfer-sim without it).
Path DefaultFolder();

class Store;

// Exclusive use of the store for one request: the mutex is held for its life,
// and the models it hands out are written back when it ends.
class Access {
public:
    explicit Access(Store& store);
    ~Access();
    Access(const Access&) = delete;
    Access& operator=(const Access&) = delete;

    // False: the lock could not be had (problem() says why); nothing else may be called.
    bool held() const { return hold_.held(); }
    const std::string& problem() const { return problem_; }

    StoreHeader& header();
    InstanceRecord& record(uint32_t instance);
    // The model of `instance` (< header().instanceCount) over its memory image and log.
    DeviceModel& model(uint32_t instance);
    // Back to the settings of devices.ini (defaults without one): instances, classes,
    // plug state and knobs; the log emptied, memory cleared.
    std::string ApplySettings();
    // A knob by its VDEV_KNOB_ id, as the device's back channel sets it (plug and
    // release included), and kept for the settings' record.
    ModelStatus SetKnob(uint32_t instance, const VdevKnob& knob);
    // Plugs or unplugs `instance`, as the virtual device's knob does: it comes and
    // goes from its class, and a read it holds stays held until a reset or a release.
    void SetPlugged(uint32_t instance, bool plugged);
    // Ends the held read of `instance` (kHeldCancelled or kHeldReleased) and wakes it.
    void EndHeldRead(uint32_t instance, HeldRead how);

private:
    Store& store_;
    sys::Hold hold_;
    std::string problem_;
    uint32_t loaded_ = 0;  // bit n: model n is loaded into the store's models
};

class Store {
public:
    // The store of `folder`, made where missing (devices.ini applied); nullptr with `problem`.
    static std::unique_ptr<Store> Open(const Path& folder, std::string& problem);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const Path& folder() const { return folder_; }
    // The memory image of `instance`.
    Path ImagePath(uint32_t instance) const;
    // The header without the lock: for counters that are read whole (plugGeneration).
    const StoreHeader& Peek() const { return *header_; }
    // Wakes every waiter: held reads and watchers look again.
    void Wake();
    // Waits up to `ms` for a wake (a waiter looks again after it either way).
    void Wait(uint32_t ms);

private:
    friend class Access;
    struct Image;
    Store() = default;
    bool Map(std::string& problem);
    bool OpenImage(Image& image);
    uint8_t* Page(uint32_t instance, uint32_t index, bool create);
    ModelStatus Resize(uint32_t instance, uint32_t bytes);

    Path folder_;
    sys::File file_;
    sys::View view_;
    StoreHeader* header_ = nullptr;
    sys::Lock lock_;
    sys::Wake wake_;
    std::unique_ptr<Image> images_[kMaxInstances];
    ModelPageStore pageStores_[kMaxInstances] = {};
    DeviceModel models_[kMaxInstances] = {};
    bool keepMemory_ = false;  // a resize that only sets the size
};

// Whether `knob`, set on `m`, still acts: a fault that has hit, or a count
// that has run out, no longer does; settings (sizes, descriptor) always do.
bool KnobInForce(const DeviceModel& m, const VdevKnob& knob);

// Why the simulated devices of the default folder are none at all: the line
// of devices.ini that can't be applied ("devices.ini line 3: ..."), or why
// the store can't be opened; "" when devices.ini gives the devices.
std::string SettingsProblem();

// The instances present in class `cls` (plugged, of that class), in the order a program numbers them.
std::vector<uint32_t> Present(Access& access, const GUID& cls);

#ifdef _WIN32
// The device path of `instance` in class `cls`, as the library opens it.
std::string DevicePath(uint32_t instance, const GUID& cls);
// The instance of such a path (or of one of its pipes); false when it is none.
bool InstanceOfPath(const std::string& path, uint32_t& instance);
#endif

}  // namespace sim
