// sim: the simulated devices (what 'uxfer --simulate' reaches, and on Windows
// every program given uXferSim.dll): their state, plugging, knobs, memory to
// and from files, and the log of the requests they received.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "commands.h"
#include "devicemodel/records.h"
#include "dump/classes.h"
#include "errors.h"
#include "ops/files.h"
#include "platform.h"
#include "sim/store.h"

namespace cli {

namespace {

constexpr uint32_t kMoveBytes = 1u << 20;

std::string action;
std::vector<std::string> arguments;

using Store = std::unique_ptr<sim::Store>;

int OpenStore(Store& store)
{
    std::string problem;
    store = sim::Store::Open(sim::DefaultFolder(), problem);
    return store ? kExitOk : Fail(kExitFile, problem);
}

int Usage(const std::string& what)
{
    return Fail(kExitUsage, "sim " + what + "; run 'uxfer sim --help'");
}

// " --loader-version V" that selects `cls`; "" for the default class, or a
// class no loader version has.
std::string ClassOption(const GUID& cls)
{
    if (IsEqualGUID(cls, dump::InterfaceClass(0)))
        return std::string();
    for (const LoaderVersion& loader : kLoaderVersions)
        if (IsEqualGUID(cls, loader.interfaceClass))
            return " --loader-version " + std::to_string(loader.version);
    return std::string();
}

// The devices of `cls`, in the order of devices.ini: --instance counts them
// as programs count the present ones, so that one number names one device
// (programs skip an unplugged one, as they skip a device that is gone).
std::vector<uint32_t> OfClass(sim::Access& access, const GUID& cls)
{
    std::vector<uint32_t> devices;
    for (uint32_t i = 0; i < access.header().instanceCount; ++i)
        if (IsEqualGUID(access.record(i).interfaceClass, cls))
            devices.push_back(i);
    return devices;
}

// The device --instance and --loader-version name, in `device`.
int FindDevice(sim::Access& access, const CommonOptions& common, uint32_t& device)
{
    if (!access.held())
        return Fail(kExitDevice, access.problem());
    if (access.header().settingsProblem[0])
        return Fail(kExitNoDevice, "no simulated device: " + std::string(access.header().settingsProblem));
    const GUID cls = dump::InterfaceClass(common.loaderVersion.value_or(0));
    const std::vector<uint32_t> devices = OfClass(access, cls);
    if (common.instance >= devices.size())
        return Fail(kExitNoDevice, "no simulated device at instance " + std::to_string(common.instance) +
                                       " of interface class " + dump::GuidText(cls) + " (devices.ini sets " +
                                       std::to_string(devices.size()) + " of that class); 'uxfer sim' lists them");
    device = devices[common.instance];
    return kExitOk;
}

// "simulated device 1" or "simulated device 0 --loader-version 272", as --instance names it.
std::string Named(const CommonOptions& common)
{
    return "simulated device " + std::to_string(common.instance) +
           ClassOption(dump::InterfaceClass(common.loaderVersion.value_or(0)));
}

int Info(sim::Store& store, const CommonOptions& common)
{
    sim::Access access(store);
    if (!access.held())
        return Fail(kExitDevice, access.problem());
    const sim::StoreHeader& h = access.header();
    Json devices = Json::array();
    std::vector<std::string> lines{"folder " + SystemText(store.folder())};
    if (h.settingsProblem[0])
        lines.push_back(h.settingsProblem);
    for (uint32_t i = 0; i < h.instanceCount; ++i) {
        const sim::InstanceRecord& r = access.record(i);
        const DeviceModel& m = access.model(i);
        const std::vector<uint32_t> ofClass = OfClass(access, r.interfaceClass);
        const uint32_t instance = static_cast<uint32_t>(std::find(ofClass.begin(), ofClass.end(), i) - ofClass.begin());
        Json knobs = Json::object();
        std::string knobText;
        for (uint32_t k = 0; k < r.knobCount; ++k) {
            if (!sim::KnobInForce(m, r.knobs[k]))
                continue;
            const std::string name = sim::KnobName(r.knobs[k].id);
            knobs[name] = {r.knobs[k].value, r.knobs[k].value2};
            knobText += " " + name + "=" + std::to_string(r.knobs[k].value) +
                        (r.knobs[k].value2 ? "," + std::to_string(r.knobs[k].value2) : "");
        }
        const std::string image = "device" + std::to_string(i) + ".img";
        devices.push_back({{"instance", instance},
                           {"interface", GuidText(r.interfaceClass)},
                           {"options", "--instance " + std::to_string(instance) + ClassOption(r.interfaceClass)},
                           {"image", image},
                           {"plugged", r.plugged != 0},
                           {"memory_bytes", m.memoryBytes},
                           {"read_held", r.heldRead == sim::kHeld},
                           {"error_latched", m.errorLatched != 0},
                           {"log_next", m.logNext},
                           {"knobs", knobs}});
        lines.push_back("--instance " + std::to_string(instance) + ClassOption(r.interfaceClass) + ": " +
                        (r.plugged ? "plugged" : "unplugged") + ", " + GuidText(r.interfaceClass) + ", " +
                        std::to_string(m.memoryBytes) + " bytes in " + image +
                        (r.heldRead == sim::kHeld ? ", a read held" : "") +
                        (m.errorLatched ? ", status error until a reset" : "") + ", " +
                        std::to_string(m.logNext) + " requests logged" +
                        (knobText.empty() ? "" : ", knobs:" + knobText));
    }
    if (common.json) {
        PrintJson({{"command", "sim"},
                   {"action", "info"},
                   {"folder", SystemText(store.folder())},
                   {"settings_problem", h.settingsProblem},
                   {"devices", devices}});
    } else {
        for (const std::string& line : lines)
            PrintLine(line);
    }
    return kExitOk;
}

int Reset(sim::Store& store, const CommonOptions& common)
{
    sim::Access access(store);
    if (!access.held())
        return Fail(kExitDevice, access.problem());
    const std::string problem = access.ApplySettings();
    if (!problem.empty())
        return Fail(kExitUsage, problem);
    if (common.json)
        PrintJson({{"command", "sim"}, {"action", "reset"}, {"devices", access.header().instanceCount}});
    else if (!common.quiet)
        PrintLine("sim: " + std::to_string(access.header().instanceCount) +
                  " device(s) as devices.ini sets them; memory cleared, log emptied");
    return kExitOk;
}

int SetKnob(sim::Store& store, const CommonOptions& common, const std::string& name, uint32_t value, uint32_t value2)
{
    uint32_t id = 0;
    if (!sim::KnobByName(name, id))
        return Usage("set: no knob is named " + name);
    sim::Access access(store);
    uint32_t device = 0;
    if (const int code = FindDevice(access, common, device))
        return code;
    const VdevKnob knob = {id, value, value2};
    if (access.SetKnob(device, knob) != MODEL_OK)
        return Fail(kExitDevice, Named(common) + " refuses " + name + " " +
                                     std::to_string(value) + " " + std::to_string(value2) +
                                     (id == VDEV_KNOB_RELEASE_READ ? ": no read is held" : ""));
    if (common.json)
        PrintJson({{"command", "sim"},
                   {"action", action},
                   {"instance", common.instance},
                   {"knob", sim::KnobName(id)},
                   {"value", value},
                   {"value2", value2}});
    else if (!common.quiet)
        PrintLine("sim: " + Named(common) + " " + sim::KnobName(id) + " " +
                  std::to_string(value) + (value2 ? " " + std::to_string(value2) : ""));
    return kExitOk;
}

int Log(sim::Store& store, const CommonOptions& common, uint32_t first)
{
    std::vector<VdevLogRecord> records(VDEV_LOG_CAPACITY);
    {
        sim::Access access(store);
        uint32_t device = 0;
        if (const int code = FindDevice(access, common, device))
            return code;
        records.resize(ModelCopyLog(&access.model(device), first, records.data(),
                                    static_cast<uint32_t>(records.size())));
    }
    if (common.json) {
        Json list = Json::array();
        for (const VdevLogRecord& r : records)
            list.push_back({{"seq", r.seq},
                            {"type", r.type},
                            {"pipe", r.pipe},
                            {"a", r.a},
                            {"b", r.b},
                            {"c", r.c},
                            {"text", vdev::Describe(r)}});
        PrintJson({{"command", "sim"}, {"action", "log"}, {"instance", common.instance}, {"records", list}});
    } else {
        for (const VdevLogRecord& r : records)
            PrintLine(vdev::Describe(r));
    }
    return kExitOk;
}

// Memory from a file, at a byte offset, a block at a time.
int Load(sim::Store& store, const CommonOptions& common, const std::string& name, uint32_t offset)
{
    std::unique_ptr<ops::Source> source;
    if (const int code = Exit(ops::OpenFileSource(SystemPath(name), name, source)))
        return code;
    std::vector<uint8_t> block(kMoveBytes);
    uint64_t done = 0;
    while (done < source->Length()) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kMoveBytes, source->Length() - done));
        if (!source->Read(block.data(), n))
            return Fail(kExitFile, "can't read " + name + ": " + SystemErrorText(ops::LastSystemError()));
        sim::Access access(store);
        uint32_t device = 0;
        if (const int code = FindDevice(access, common, device))
            return code;
        // The whole file, checked before the first block: a file that doesn't fit changes nothing.
        if (offset + source->Length() > access.model(device).memoryBytes ||
            ModelSetMemory(&access.model(device), static_cast<uint32_t>(offset + done), block.data(), n) != MODEL_OK)
            return Fail(kExitUsage, name + " (" + std::to_string(source->Length()) + " bytes) doesn't fit at " +
                                        std::to_string(offset) + " in " + Named(common) + "'s " +
                                        std::to_string(access.model(device).memoryBytes) + " bytes");
        done += n;
    }
    if (common.json)
        PrintJson({{"command", "sim"}, {"action", "load"}, {"file", name}, {"offset", offset}, {"bytes", done}});
    else if (!common.quiet)
        PrintLine("sim: " + std::to_string(done) + " bytes of " + name + " loaded at " + std::to_string(offset));
    return kExitOk;
}

// `count` bytes of memory from a byte offset into a file that replaces its target once whole.
int Save(sim::Store& store, const CommonOptions& common, const std::string& name, uint32_t offset, uint32_t count)
{
    {
        sim::Access access(store);
        uint32_t device = 0;
        if (const int code = FindDevice(access, common, device))
            return code;
        if (static_cast<uint64_t>(offset) + count > access.model(device).memoryBytes)
            return Fail(kExitUsage, Named(common) + " holds " + std::to_string(access.model(device).memoryBytes) +
                                        " bytes");
    }
    ops::DumpFile file("usm");
    if (const int code = Exit(file.Prepare(SystemPath(name), name)))
        return code;
    std::vector<uint8_t> block(kMoveBytes);
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(kMoveBytes, count - done);
        {
            sim::Access access(store);
            uint32_t device = 0;
            if (const int code = FindDevice(access, common, device))
                return code;
            ModelGetMemory(&access.model(device), offset + done, block.data(), n);
        }
        if (!file.Append(block.data(), n))
            return Exit(file.WriteFailed(ops::LastSystemError()));
        done += n;
    }
    if (const int code = Exit(file.Finish()))
        return code;
    if (common.json)
        PrintJson({{"command", "sim"}, {"action", "save"}, {"file", name}, {"offset", offset}, {"bytes", count}});
    else if (!common.quiet)
        PrintLine("sim: " + std::to_string(count) + " bytes from " + std::to_string(offset) + " saved in " + name);
    return kExitOk;
}

int Plug(sim::Store& store, const CommonOptions& common, bool plugged)
{
    sim::Access access(store);
    uint32_t device = 0;
    if (const int code = FindDevice(access, common, device))
        return code;
    access.SetPlugged(device, plugged);
    if (common.json)
        PrintJson({{"command", "sim"}, {"action", action}, {"instance", common.instance}});
    else if (!common.quiet)
        PrintLine("sim: " + Named(common) + (plugged ? " plugged" : " unplugged"));
    return kExitOk;
}

// What devices.ini and 'sim set' take: the settings and the knobs.
std::string SettingsHelp()
{
    std::string text =
        std::string("The devices live in ") + kSimulatedFolders + "; devices.ini there says what\n"
        "they are: a [device] section a device, then NAME = VALUE [VALUE2] lines (numbers decimal or 0x).\n"
        "  interface           a loader version (272, 288 or 304) or a {GUID}: the device's interface class\n"
        "Every other name is a knob, also set with 'uxfer sim set' (k counts from the moment the knob is set,\n"
        "1-based; 0 turns it off):";
    for (uint32_t id : sim::KnobIds())
        text += "\n  " + sim::KnobName(id) + std::string(20 - std::min<size_t>(19, sim::KnobName(id).size()), ' ') +
                sim::KnobValues(id) + (id == VDEV_KNOB_RELEASE_READ ? " (sim set only)" : "");
    return text;
}

}  // namespace

void AddSimOptions(CLI::App& command, NumberOptions&)
{
    command.add_option("ACTION", action,
                       "info (default), reset, plug, unplug, set KNOB VALUE [VALUE2], log [FIRST],\n"
                       "load FILE [OFFSET], save FILE OFFSET COUNT, help (the settings and knobs)");
    command.add_option("ARGS", arguments, "the action's values");
    command.footer("--instance N counts the devices of the class --loader-version selects, in the order of\n"
                   "devices.ini, as the other commands count the present ones.\n" +
                   SettingsHelp());
}

int RunSim(const CommonOptions& common)
{
    if (action == "help") {
        if (!arguments.empty())
            return Usage("help takes no values");
        PrintLine(SettingsHelp());
        return kExitOk;
    }
    Store store;
    if (const int code = OpenStore(store))
        return code;
    const size_t n = arguments.size();
    uint32_t a = 0, b = 0, c = 0;
    if (action.empty() || action == "info")
        return n == 0 ? Info(*store, common) : Usage("info takes no values");
    if (action == "reset")
        return n == 0 ? Reset(*store, common) : Usage("reset takes no values");
    if (action == "plug" || action == "unplug")
        return n == 0 ? Plug(*store, common, action == "plug") : Usage(action + " takes no values");
    if (action == "set") {
        if (n < 2 || n > 3 || !sim::ParseNumber(arguments[1], a) ||
            (n == 3 && !sim::ParseNumber(arguments[2], b)))
            return Usage("set takes KNOB VALUE [VALUE2], numbers decimal or 0x");
        return SetKnob(*store, common, arguments[0], a, b);
    }
    if (action == "log") {
        if (n > 1 || (n == 1 && !sim::ParseNumber(arguments[0], a)))
            return Usage("log takes [FIRST], a sequence number");
        return Log(*store, common, a);
    }
    if (action == "load") {
        if (n < 1 || n > 2 || (n == 2 && !sim::ParseNumber(arguments[1], a)))
            return Usage("load takes FILE [OFFSET]");
        return Load(*store, common, arguments[0], a);
    }
    if (action == "save") {
        if (n != 3 || !sim::ParseNumber(arguments[1], b) || !sim::ParseNumber(arguments[2], c))
            return Usage("save takes FILE OFFSET COUNT");
        return Save(*store, common, arguments[0], b, c);
    }
    return Usage("has no action " + action);
}

}  // namespace cli
