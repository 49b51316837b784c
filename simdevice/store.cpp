#include "sim/store.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <cwctype>

#include "win/text.h"

namespace sim {

namespace {

constexpr char kMagic[8] = {'u', 'X', 'f', 'e', 'r', 'S', 'i', 'm'};
// Changes whenever the state file's layout does: an old file is made afresh.
constexpr uint32_t kLayout = 1 + (sizeof(StoreHeader) << 8);
constexpr DWORD kLockWaitMs = 10000;
constexpr uint32_t kViewSlots = 8;
constexpr uint64_t kSettingsLimit = 1u << 20;
const char kPathPrefix[] = "\\\\?\\UXFERSIM#DEVICE#";

// A variable of any length: a folder named by a longer one is still that folder, never another.
std::wstring Environment(const wchar_t* name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (!size)
        return std::wstring();
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

// Names of the store's kernel objects, from its folder: two folders are two stores.
std::wstring ObjectName(const std::wstring& folder, const wchar_t* what)
{
    uint32_t hash = 2166136261u;
    for (wchar_t c : folder) {
        hash ^= static_cast<uint32_t>(std::towlower(c));
        hash *= 16777619u;
    }
    wchar_t name[64];
    swprintf(name, 64, L"uXferSim-%08x-%ls", hash, what);
    return name;
}

uint64_t FileSize(HANDLE file)
{
    LARGE_INTEGER size = {};
    return GetFileSizeEx(file, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

bool SetFileSize(HANDLE file, uint64_t bytes)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(bytes);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// devices.ini's text and time; false when there is none.
bool ReadSettings(const std::wstring& path, std::string& text, FILETIME& time)
{
    win::unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    GetFileTime(file.get(), nullptr, nullptr, &time);
    const uint64_t size = std::min(FileSize(file.get()), kSettingsLimit);
    text.assign(static_cast<size_t>(size), '\0');
    DWORD got = 0;
    if (size && !ReadFile(file.get(), &text[0], static_cast<DWORD>(size), &got, nullptr))
        got = 0;
    text.resize(got);
    return true;
}

FILETIME SettingsTime(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return FILETIME{};
    return data.ftLastWriteTime;
}

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

void CopyProblem(char (&to)[256], const std::string& text)
{
    const size_t n = std::min(text.size(), sizeof to - 1);
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

}  // namespace

// A memory image: its file, a mapping of it and a few 1 MiB views.
struct Store::Image {
    Store* store = nullptr;
    uint32_t instance = 0;
    win::unique_file file;
    win::unique_handle mapping;
    uint64_t mappedBytes = 0;
    struct Slot {
        uint32_t page = UINT32_MAX;
        uint32_t bytes = 0;  // of the page the view holds
        win::unique_view view;
    };
    Slot slots[kViewSlots];
    uint32_t next = 0;

    void Unmap()
    {
        for (Slot& slot : slots) {
            slot.view.reset();
            slot.page = UINT32_MAX;
        }
        mapping.reset();
        mappedBytes = 0;
    }
};

std::wstring DefaultFolder()
{
    std::wstring folder = Environment(L"UXFERSIM_HOME");
    if (!folder.empty())
        return folder;
    folder = Environment(L"LOCALAPPDATA");
    if (folder.empty())
        folder = Environment(L"USERPROFILE") + L"\\AppData\\Local";
    return folder + L"\\uXferSim";
}

std::unique_ptr<Store> Store::Open(const std::wstring& folder, std::string& problem)
{
    std::unique_ptr<Store> store(new Store());
    store->folder_ = folder;
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        problem = "can't make the simulated devices' folder " + win::Narrow(folder, CP_UTF8) + " (" +
                  win::SystemErrorText(GetLastError()) + ")";
        return nullptr;
    }
    store->mutex_.reset(CreateMutexW(nullptr, FALSE, ObjectName(folder, L"lock").c_str()));
    store->wake_.reset(CreateEventW(nullptr, FALSE, FALSE, ObjectName(folder, L"wake").c_str()));
    if (!store->mutex_ || !store->wake_) {
        problem = "can't make the simulated devices' lock (" + win::SystemErrorText(GetLastError()) + ")";
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
        const DWORD wait = WaitForSingleObject(store->mutex_.get(), kLockWaitMs);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
            problem = "another program has held the simulated devices' lock for 10 s";
            return nullptr;
        }
        win::unique_mutex_hold hold(store->mutex_.get());
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
    const std::wstring path = folder_ + L"\\state.bin";
    file_.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file_ && FileSize(file_.get()) != sizeof(StoreHeader)) {
        // Made afresh: another layout, or cut short.
        if (!SetFileSize(file_.get(), 0) || !SetFileSize(file_.get(), sizeof(StoreHeader)))
            file_.reset();
    }
    if (file_)
        mapping_.reset(CreateFileMappingW(file_.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
    if (mapping_)
        view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    if (!view_) {
        problem = "can't open the simulated devices' state file " + win::Narrow(path, CP_UTF8) + " (" +
                  win::SystemErrorText(GetLastError()) + ")";
        return false;
    }
    header_ = static_cast<StoreHeader*>(view_.get());
    return true;
}

Store::~Store() = default;

void Store::Wake()
{
    SetEvent(wake_.get());
}

void Store::Wait(DWORD ms)
{
    WaitForSingleObject(wake_.get(), ms);
}

bool Store::OpenImage(Image& image)
{
    if (image.file)
        return true;
    const std::wstring path = folder_ + L"\\device" + std::to_wstring(image.instance) + L".img";
    image.file.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!image.file)
        return false;
    DWORD returned = 0;  // sparse where the file system can: a large image costs what was written
    DeviceIoControl(image.file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
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
        const uint64_t size = FileSize(image.file.get());
        if (size < end)
            return nullptr;
        image.mapping.reset(CreateFileMappingW(image.file.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
        if (!image.mapping)
            return nullptr;
        image.mappedBytes = size;
    }
    Image::Slot* slot = std::find_if(std::begin(image.slots), std::end(image.slots),
                                     [&](const Image::Slot& s) { return s.page == index && s.bytes >= bytes; });
    if (slot == std::end(image.slots)) {
        slot = &image.slots[image.next++ % kViewSlots];
        slot->page = UINT32_MAX;
        slot->view.reset(MapViewOfFile(image.mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE,
                                       static_cast<DWORD>(offset >> 32), static_cast<DWORD>(offset), bytes));
        if (!slot->view)
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
        SetFileSize(image.file.get(), 0);
    }
    // As many bytes as memory.  An image that is larger (memory kept while
    // the size shrank, or a store of a build that rounded images up to whole
    // pages) is cut where no process maps it, and serves as it is where one does.
    const uint64_t size = FileSize(image.file.get());
    if (size < bytes && !SetFileSize(image.file.get(), bytes))
        return MODEL_NO_MEMORY;
    if (size > bytes) {
        image.Unmap();
        SetFileSize(image.file.get(), bytes);
    }
    return MODEL_OK;
}

Access::Access(Store& store) : store_(store)
{
    const DWORD wait = WaitForSingleObject(store.mutex_.get(), kLockWaitMs);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        problem_ = wait == WAIT_TIMEOUT ? "another program has held the simulated devices' lock for 10 s"
                                        : "can't take the simulated devices' lock (" +
                                              win::SystemErrorText(GetLastError()) + ")";
        return;
    }
    hold_.reset(store.mutex_.get());
    StoreHeader& h = header();
    const std::wstring settings = store.folder_ + L"\\devices.ini";
    if (std::memcmp(h.magic, kMagic, sizeof kMagic) != 0 || h.layout != kLayout) {
        std::memset(&h, 0, sizeof h);
        std::memcpy(h.magic, kMagic, sizeof kMagic);
        h.layout = kLayout;
        ApplySettings();
    } else if (!SameTime(SettingsTime(settings), h.settingsTime)) {
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
    const std::wstring path = store_.folder_ + L"\\devices.ini";
    std::string text, problem;
    FILETIME time = {};
    std::vector<InstanceSettings> instances;
    if (!ReadSettings(path, text, time))
        instances = DefaultSettings();
    else
        ParseSettings(text, instances, problem);
    h.settingsTime = time;
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
                      win::Narrow(store_.folder_, CP_UTF8);
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
                          ": can't make its memory image in " + win::Narrow(store_.folder_, CP_UTF8);
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

std::string DevicePath(uint32_t instance, const GUID& cls)
{
    char number[8];
    std::snprintf(number, sizeof number, "%04u", instance);
    return kPathPrefix + std::string(number) + "#" + win::GuidText(cls);
}

bool InstanceOfPath(const std::string& path, uint32_t& instance)
{
    const size_t prefix = sizeof kPathPrefix - 1;
    if (path.size() < prefix + 5 || _strnicmp(path.c_str(), kPathPrefix, prefix) != 0 || path[prefix + 4] != '#')
        return false;
    instance = 0;
    for (size_t i = prefix; i < prefix + 4; ++i) {
        if (path[i] < '0' || path[i] > '9')
            return false;
        instance = instance * 10 + static_cast<uint32_t>(path[i] - '0');
    }
    return true;
}

}  // namespace sim
