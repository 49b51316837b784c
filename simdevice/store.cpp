#include "sim/store.h"

#include <algorithm>
#include <cstring>
#include <cstdio>

namespace sim {

namespace {

constexpr char kMagic[8] = {'u', 'X', 'f', 'e', 'r', 'S', 'i', 'm'};
// Changes whenever the state file's layout does: an old file is made afresh.
constexpr uint32_t kLayout = 1 + (sizeof(StoreHeader) << 8);
constexpr uint32_t kLockWaitMs = 10000;
constexpr uint32_t kViewSlots = 8;
constexpr uint64_t kSettingsLimit = 1u << 20;
const char kLockHeld[] = "another program has held the simulated devices' lock for 10 s";

bool SameStamp(const SettingsStamp& a, const SettingsStamp& b)
{
    return a.low == b.low && a.high == b.high;
}

void CopyProblem(char (&to)[256], const std::string& text)
{
    const size_t n = std::min(text.size(), sizeof to - 1);
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

}  // namespace

// A memory image: its file and a few 1 MiB views of it.
struct Store::Image {
    Store* store = nullptr;
    uint32_t instance = 0;
    sys::File file;
    uint64_t mappedBytes = 0;
    struct Slot {
        uint32_t page = UINT32_MAX;
        uint32_t bytes = 0;  // of the page the view holds
        sys::View view;
    };
    Slot slots[kViewSlots];
    uint32_t next = 0;

    void Unmap()
    {
        for (Slot& slot : slots) {
            slot.view.Reset();
            slot.page = UINT32_MAX;
        }
        file.Unmap();
        mappedBytes = 0;
    }
};

std::unique_ptr<Store> Store::Open(const Path& folder, std::string& problem)
{
    std::unique_ptr<Store> store(new Store());
    store->folder_ = folder;
    if (!sys::MakeFolder(folder)) {
        const std::string why = sys::LastError();
        problem = "can't make the simulated devices' folder " + sys::Text(folder) + " (" + why + ")";
        return nullptr;
    }
    if (!store->lock_.Open(folder) || !store->wake_.Open(folder)) {
        problem = "can't make the simulated devices' lock (" + sys::LastError() + ")";
        return nullptr;
    }
    for (uint32_t i = 0; i < kMaxInstances; ++i) {
        store->images_[i].reset(new Image);
        store->images_[i]->store = store.get();
        store->images_[i]->instance = i;
        store->pageStores_[i].page = [](void* host, uint32_t index, int create) {
            auto* image = static_cast<Image*>(host);
            return image->store->Page(image->instance, index, create != 0);
        };
        store->pageStores_[i].resize = [](void* host, uint32_t bytes) {
            auto* image = static_cast<Image*>(host);
            return image->store->Resize(image->instance, bytes);
        };
        store->pageStores_[i].host = store->images_[i].get();
    }
    {
        // The first process makes the file whole; none reads it half made.
        sys::Hold hold;
        if (store->lock_.Take(kLockWaitMs, hold) != sys::Lock::kTaken) {
            problem = kLockHeld;
            return nullptr;
        }
        if (!store->Map(problem))
            return nullptr;
    }
    Access access(*store);
    if (!access.held()) {
        problem = access.problem();
        return nullptr;
    }
    return store;
}

bool Store::Map(std::string& problem)
{
    const Path path = sys::InFolder(folder_, "state.bin");
    if (file_.Open(path) && file_.Size() != sizeof(StoreHeader)) {
        // Made afresh: another layout, or cut short.
        if (!file_.SetSize(0) || !file_.SetSize(sizeof(StoreHeader)))
            file_.Close();
    }
    if (!file_.IsOpen() || !file_.Map() || !view_.Map(file_, 0, sizeof(StoreHeader))) {
        const std::string why = sys::LastError();
        problem = "can't open the simulated devices' state file " + sys::Text(path) + " (" + why + ")";
        return false;
    }
    header_ = static_cast<StoreHeader*>(view_.get());
    return true;
}

Store::~Store() = default;

Path Store::ImagePath(uint32_t instance) const
{
    return sys::InFolder(folder_, "device" + std::to_string(instance) + ".img");
}

void Store::Wake()
{
    wake_.Set();
}

void Store::Wait(uint32_t ms)
{
    wake_.Wait(ms);
}

bool Store::OpenImage(Image& image)
{
    if (image.file.IsOpen())
        return true;
    if (!image.file.Open(ImagePath(image.instance)))
        return false;
    image.file.MakeSparse();
    return true;
}

uint8_t* Store::Page(uint32_t instance, uint32_t index, bool create)
{
    InstanceRecord& record = header_->instances[instance];
    const uint8_t bit = static_cast<uint8_t>(1u << (index % 8));
    const bool written = (record.written[index / 8] & bit) != 0;
    if (!written && !create)
        return nullptr;
    Image& image = *images_[instance];
    // The image holds as many bytes as memory: the last page may be cut short.
    const uint64_t offset = static_cast<uint64_t>(index) << MODEL_PAGE_SHIFT;
    const uint64_t end = std::min<uint64_t>(offset + MODEL_PAGE_BYTES, models_[instance].memoryBytes);
    if (end <= offset || !OpenImage(image))
        return nullptr;
    const uint32_t bytes = static_cast<uint32_t>(end - offset);
    if (image.mappedBytes < end) {
        // Another process may have grown the image since it was mapped here.
        image.Unmap();
        const uint64_t size = image.file.Size();
        if (size < end || !image.file.Map())
            return nullptr;
        image.mappedBytes = size;
    }
    Image::Slot* slot = std::find_if(std::begin(image.slots), std::end(image.slots),
                                     [&](const Image::Slot& s) { return s.page == index && s.bytes >= bytes; });
    if (slot == std::end(image.slots)) {
        slot = &image.slots[image.next++ % kViewSlots];
        slot->page = UINT32_MAX;
        if (!slot->view.Map(image.file, offset, bytes))
            return nullptr;
        slot->page = index;
        slot->bytes = bytes;
    }
    auto* page = static_cast<uint8_t*>(slot->view.get());
    if (!written) {
        std::memset(page, MODEL_FILL, bytes);
        record.written[index / 8] |= bit;
    }
    return page;
}

ModelStatus Store::Resize(uint32_t instance, uint32_t bytes)
{
    Image& image = *images_[instance];
    if (!OpenImage(image))
        return MODEL_FAILED;
    if (!keepMemory_) {
        InstanceRecord& record = header_->instances[instance];
        std::memset(record.written, 0, sizeof record.written);
        // Emptied where no other process maps it, so that the file shows what the device holds.
        image.Unmap();
        image.file.SetSize(0);
    }
    // As many bytes as memory.  An image that is larger (memory kept while
    // the size shrank, or a store of a build that rounded images up to whole
    // pages) is cut where no process maps it, and serves as it is where one does.
    const uint64_t size = image.file.Size();
    if (size < bytes && !image.file.SetSize(bytes))
        return MODEL_NO_MEMORY;
    if (size > bytes) {
        image.Unmap();
        image.file.SetSize(bytes);
    }
    return MODEL_OK;
}

Access::Access(Store& store) : store_(store)
{
    switch (store.lock_.Take(kLockWaitMs, hold_)) {
    case sys::Lock::kTaken:
        break;
    case sys::Lock::kTimedOut:
        problem_ = kLockHeld;
        return;
    case sys::Lock::kFailed:
        problem_ = "can't take the simulated devices' lock (" + sys::LastError() + ")";
        return;
    }
    StoreHeader& h = header();
    const Path settings = sys::InFolder(store.folder_, "devices.ini");
    if (std::memcmp(h.magic, kMagic, sizeof kMagic) != 0 || h.layout != kLayout) {
        std::memset(&h, 0, sizeof h);
        std::memcpy(h.magic, kMagic, sizeof kMagic);
        h.layout = kLayout;
        ApplySettings();
    } else if (!SameStamp(sys::StampOf(settings), h.settingsStamp)) {
        // An edited devices.ini applies at the next request; memory stays.
        store.keepMemory_ = true;
        ApplySettings();
        store.keepMemory_ = false;
    }
}

Access::~Access()
{
    if (!held())
        return;
    for (uint32_t i = 0; i < kMaxInstances; ++i)
        if (loaded_ & (1u << i))
            std::memcpy(header().instances[i].model, &store_.models_[i], MODEL_STATE_BYTES);
}

StoreHeader& Access::header()
{
    return *store_.header_;
}

InstanceRecord& Access::record(uint32_t instance)
{
    return header().instances[instance];
}

DeviceModel& Access::model(uint32_t instance)
{
    DeviceModel& m = store_.models_[instance];
    if (!(loaded_ & (1u << instance))) {
        std::memcpy(&m, record(instance).model, MODEL_STATE_BYTES);
        m.pages = nullptr;
        m.log = record(instance).log;
        m.store = &store_.pageStores_[instance];
        loaded_ |= 1u << instance;
    }
    return m;
}

std::string Access::ApplySettings()
{
    StoreHeader& h = header();
    const Path path = sys::InFolder(store_.folder_, "devices.ini");
    std::string text, problem;
    SettingsStamp stamp = {};
    std::vector<InstanceSettings> instances;
    if (!sys::ReadSettings(path, kSettingsLimit, text, stamp))
        instances = DefaultSettings();
    else
        ParseSettings(text, instances, problem);
    h.settingsStamp = stamp;
    for (uint32_t i = 0; i < h.instanceCount; ++i)
        if (record(i).heldRead == kHeld)
            EndHeldRead(i, kHeldCancelled);
    if (!problem.empty())
        instances.clear();
    for (uint32_t i = 0; i < instances.size() && problem.empty(); ++i) {
        InstanceRecord& r = record(i);
        DeviceModel& m = store_.models_[i];
        const uint32_t seq = r.heldSeq, plugChanges = r.plugChanges;
        uint8_t written[sizeof r.written];
        std::memcpy(written, r.written, sizeof written);
        std::memset(&r, 0, offsetof(InstanceRecord, log));
        r.heldSeq = seq;
        r.plugChanges = plugChanges;
        if (store_.keepMemory_)
            std::memcpy(r.written, written, sizeof written);
        if (ModelInitHosted(&m, i, &store_.pageStores_[i], r.log) != MODEL_OK) {
            problem = "device " + std::to_string(i) + ": can't make its memory image in " +
                      sys::Text(store_.folder_);
            break;
        }
        loaded_ |= 1u << i;
        r.interfaceClass = instances[i].interfaceClass;
        r.plugged = 1;
        for (size_t k = 0; k < instances[i].knobs.size() && problem.empty(); ++k) {
            const VdevKnob& knob = instances[i].knobs[k];
            const ModelStatus status = SetKnob(i, knob);
            if (status == MODEL_BAD_PARAMETER)
                problem = SettingsLine(instances[i].lines[k]) + "device " + std::to_string(i) + " refuses " +
                          KnobName(knob.id) + " = " + std::to_string(knob.value) + " (it takes " +
                          (knob.id == VDEV_KNOB_MEMORY_BYTES ? "an even size from 2 to 0xFFFFFFFE"
                                                              : KnobValues(knob.id)) +
                          ")";
            else if (status != MODEL_OK)
                problem = SettingsLine(instances[i].lines[k]) + "device " + std::to_string(i) +
                          ": can't make its memory image in " + sys::Text(store_.folder_);
        }
    }
    h.instanceCount = problem.empty() ? static_cast<uint32_t>(instances.size()) : 0;
    CopyProblem(h.settingsProblem, problem);
    ++h.plugGeneration;
    store_.Wake();
    return problem;
}

ModelStatus Access::SetKnob(uint32_t instance, const VdevKnob& knob)
{
    InstanceRecord& r = record(instance);
    ModelStatus status = MODEL_OK;
    if (knob.id == VDEV_KNOB_PLUGGED) {
        // The plug state is the device's own, not a knob kept set.
        SetPlugged(instance, knob.value != 0);
        return MODEL_OK;
    } else if (knob.id == VDEV_KNOB_RELEASE_READ) {
        if (r.heldRead != kHeld)
            return MODEL_BAD_REQUEST;
        EndHeldRead(instance, kHeldReleased);
        return MODEL_OK;
    } else {
        status = ModelKnob(&model(instance), &knob);
    }
    if (status != MODEL_OK)
        return status;
    VdevKnob* end = r.knobs + r.knobCount;
    VdevKnob* same = std::find_if(r.knobs, end, [&](const VdevKnob& k) { return k.id == knob.id; });
    if (same != end)
        *same = knob;
    else if (r.knobCount < kMaxKnobs)
        r.knobs[r.knobCount++] = knob;
    return MODEL_OK;
}

void Access::SetPlugged(uint32_t instance, bool plugged)
{
    InstanceRecord& r = record(instance);
    if (r.plugged != (plugged ? 1u : 0u))
        ++r.plugChanges;
    r.plugged = plugged ? 1 : 0;
    ++header().plugGeneration;
    store_.Wake();
}

void Access::EndHeldRead(uint32_t instance, HeldRead how)
{
    record(instance).heldRead = how;
    store_.Wake();
}

std::string SettingsProblem()
{
    std::string problem;
    const std::unique_ptr<Store> store = Store::Open(DefaultFolder(), problem);
    if (!store)
        return problem;
    Access access(*store);
    return access.held() ? access.header().settingsProblem : access.problem();
}

bool KnobInForce(const DeviceModel& m, const VdevKnob& knob)
{
    switch (knob.id) {
    case VDEV_KNOB_FAIL_CONTROL:
        return m.failControlAt != 0;
    case VDEV_KNOB_FAIL_READ:
        return m.failReadAt != 0;
    case VDEV_KNOB_FAIL_WRITE:
        return m.failWriteAt != 0;
    case VDEV_KNOB_SHORT_READ:
        return m.shortReadAt != 0;
    case VDEV_KNOB_PEND_READ:
        return m.pendReadAt != 0;
    case VDEV_KNOB_ACTIVE_POLLS:
        return m.activePolls != 0;
    case VDEV_KNOB_ERROR_AT_POLL:
        return m.errorAtPoll != 0;
    case VDEV_KNOB_PENDING_POLLS:
        return m.pendingPolls != 0;
    case VDEV_KNOB_FAIL_OPEN:
        return m.failOpenAt != 0;
    case VDEV_KNOB_FAIL_DRIVER_STATE:
        return m.failStateAt != 0;
    default:
        return true;  // a setting: it holds until changed
    }
}

std::vector<uint32_t> Present(Access& access, const GUID& cls)
{
    std::vector<uint32_t> present;
    for (uint32_t i = 0; i < access.header().instanceCount; ++i)
        if (access.record(i).plugged && std::memcmp(&access.record(i).interfaceClass, &cls, sizeof cls) == 0)
            present.push_back(i);
    return present;
}

}  // namespace sim
