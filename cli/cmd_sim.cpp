// sim: the simulated devices of uXferSim.dll (what 'uxfer --simulate' and
// every program given that library reach): their state, plugging, knobs,
// memory to and from files, and the log of the requests they received.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "ops/files.h"
#include "sim/store.h"
#include "vdev_records.h"
#include "win/text.h"

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

// The instance the command names, present in the settings.
int CheckInstance(sim::Access& access, uint32_t instance)
{
    if (!access.held())
        return Fail(kExitDevice, access.problem());
    if (instance >= access.header().instanceCount)
        return Fail(kExitNoDevice, "no simulated device " + std::to_string(instance) + " (devices.ini sets " +
                                       std::to_string(access.header().instanceCount) + ")");
    return kExitOk;
}

int Info(sim::Store& store, const CommonOptions& common)
{
    sim::Access access(store);
    if (!access.held())
        return Fail(kExitDevice, access.problem());
    const sim::StoreHeader& h = access.header();
    Json devices = Json::array();
    std::vector<std::string> lines{"folder " + win::Narrow(store.folder(), CP_UTF8)};
    if (h.settingsProblem[0])
        lines.push_back("devices.ini: " + std::string(h.settingsProblem));
    for (uint32_t i = 0; i < h.instanceCount; ++i) {
        const sim::InstanceRecord& r = access.record(i);
        const DeviceModel& m = access.model(i);
        Json knobs = Json::object();
        std::string knobText;
        for (uint32_t k = 0; k < r.knobCount; ++k) {
            const std::string name = sim::KnobName(r.knobs[k].id);
            knobs[name] = {r.knobs[k].value, r.knobs[k].value2};
            knobText += " " + name + "=" + std::to_string(r.knobs[k].value) +
                        (r.knobs[k].value2 ? "," + std::to_string(r.knobs[k].value2) : "");
        }
        devices.push_back({{"instance", i},
                           {"interface", win::GuidText(r.interfaceClass)},
                           {"plugged", r.plugged != 0},
                           {"memory_bytes", m.memoryBytes},
                           {"read_held", r.heldRead == sim::kHeld},
                           {"log_next", m.logNext},
                           {"knobs", knobs}});
        lines.push_back("device " + std::to_string(i) + ": " + (r.plugged ? "plugged" : "unplugged") + ", " +
                        win::GuidText(r.interfaceClass) + ", " + std::to_string(m.memoryBytes) + " bytes" +
                        (r.heldRead == sim::kHeld ? ", a read held" : "") + ", " + std::to_string(m.logNext) +
                        " requests logged" + (knobText.empty() ? "" : ", knobs:" + knobText));
    }
    if (common.json) {
        PrintJson({{"command", "sim"},
                   {"action", "info"},
                   {"folder", win::Narrow(store.folder(), CP_UTF8)},
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
    if (const int code = CheckInstance(access, common.instance))
        return code;
    const VdevKnob knob = {id, value, value2};
    if (access.SetKnob(common.instance, knob) != MODEL_OK)
        return Fail(kExitDevice, "simulated device " + std::to_string(common.instance) + " refuses " + name + " " +
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
        PrintLine("sim: device " + std::to_string(common.instance) + " " + sim::KnobName(id) + " " +
                  std::to_string(value) + (value2 ? " " + std::to_string(value2) : ""));
    return kExitOk;
}

int Log(sim::Store& store, const CommonOptions& common, uint32_t first)
{
    std::vector<VdevLogRecord> records(VDEV_LOG_CAPACITY);
    {
        sim::Access access(store);
        if (const int code = CheckInstance(access, common.instance))
            return code;
        records.resize(ModelCopyLog(&access.model(common.instance), first, records.data(),
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
    if (const int code = Exit(ops::OpenFileSource(win::Widen(name, CP_UTF8), name, source)))
        return code;
    std::vector<uint8_t> block(kMoveBytes);
    uint64_t done = 0;
    while (done < source->Length()) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kMoveBytes, source->Length() - done));
        if (!source->Read(block.data(), n))
            return Fail(kExitFile, "can't read " + name + ": " + SystemErrorText(GetLastError()));
        sim::Access access(store);
        if (const int code = CheckInstance(access, common.instance))
            return code;
        // The whole file, checked before the first block: a file that doesn't fit changes nothing.
        if (offset + source->Length() > access.model(common.instance).memoryBytes ||
            ModelSetMemory(&access.model(common.instance), static_cast<uint32_t>(offset + done), block.data(), n) !=
                MODEL_OK)
            return Fail(kExitUsage, name + " (" + std::to_string(source->Length()) + " bytes) doesn't fit at " +
                                        std::to_string(offset) + " in simulated device " +
                                        std::to_string(common.instance) + "'s " +
                                        std::to_string(access.model(common.instance).memoryBytes) + " bytes");
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
        if (const int code = CheckInstance(access, common.instance))
            return code;
        if (static_cast<uint64_t>(offset) + count > access.model(common.instance).memoryBytes)
            return Fail(kExitUsage, "simulated device " + std::to_string(common.instance) + " holds " +
                                        std::to_string(access.model(common.instance).memoryBytes) + " bytes");
    }
    ops::DumpFile file(L"usm");
    if (const int code = Exit(file.Prepare(win::Widen(name, CP_UTF8), name)))
        return code;
    std::vector<uint8_t> block(kMoveBytes);
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(kMoveBytes, count - done);
        {
            sim::Access access(store);
            if (const int code = CheckInstance(access, common.instance))
                return code;
            ModelGetMemory(&access.model(common.instance), offset + done, block.data(), n);
        }
        if (!file.Append(block.data(), n))
            return Exit(file.WriteFailed(GetLastError()));
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
    if (const int code = CheckInstance(access, common.instance))
        return code;
    access.SetPlugged(common.instance, plugged);
    if (common.json)
        PrintJson({{"command", "sim"}, {"action", action}, {"instance", common.instance}});
    else if (!common.quiet)
        PrintLine("sim: device " + std::to_string(common.instance) + (plugged ? " plugged" : " unplugged"));
    return kExitOk;
}

std::string KnobList()
{
    std::string text;
    for (uint32_t id : sim::KnobIds())
        text += "\n  " + sim::KnobName(id) + std::string(20 - std::min<size_t>(19, sim::KnobName(id).size()), ' ') +
                sim::KnobValues(id);
    return text;
}

}  // namespace

void AddSimOptions(CLI::App& command, NumberOptions&)
{
    command.add_option("ACTION", action,
                       "info (default), reset, plug, unplug, set KNOB VALUE [VALUE2], log [FIRST],\n"
                       "load FILE [OFFSET], save FILE OFFSET COUNT");
    command.add_option("ARGS", arguments, "the action's values");
    command.footer("The devices live in %UXFERSIM_HOME% or else %LOCALAPPDATA%\\uXferSim; devices.ini\n"
                   "there says what they are.  Knobs (k counts from the moment the knob is set,\n"
                   "1-based; 0 turns it off):" +
                   KnobList());
}

int RunSim(const CommonOptions& common)
{
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
