#include "sim/settings.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>

#include "loader_versions.h"
#include "devicemodel/records.h"

namespace sim {

namespace {

const GUID kDefaultClass = DEVICE_CLASS_DEFAULT_INIT;

std::string Lower(std::string text)
{
    for (char& c : text)
        c = c == '-' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::string SettingsLine(unsigned number)
{
    return "devices.ini line " + std::to_string(number) + ": ";
}

bool ParseNumber(const std::string& word, uint32_t& value)
{
    if (word.empty() || word[0] == '-' || word[0] == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(word.c_str(), &end, 0);
    if (*end != '\0' || errno != 0 || parsed > 0xFFFFFFFFull)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

namespace {

bool Guid(const std::string& text, GUID& guid)
{
    unsigned long d1;
    unsigned d2, d3, b[8];
    char tail;
    if (std::sscanf(text.c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%c", &d1, &d2, &d3, &b[0], &b[1], &b[2],
                    &b[3], &b[4], &b[5], &b[6], &b[7], &tail) != 11)
        return false;
    guid.Data1 = d1;
    guid.Data2 = static_cast<unsigned short>(d2);
    guid.Data3 = static_cast<unsigned short>(d3);
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = static_cast<unsigned char>(b[i]);
    return true;
}

// `interface = VERSION | {GUID}`.
bool InterfaceClass(const std::string& value, GUID& cls, std::string& problem)
{
    uint32_t version = 0;
    if (Guid(value, cls))
        return true;
    if (ParseNumber(value, version)) {
        if (const LoaderVersion* loader = FindLoaderVersion(version)) {
            cls = loader->interfaceClass;
            return true;
        }
        problem = "no loader version is " + value + " (272, 288 or 304; or a {GUID})";
        return false;
    }
    problem = "interface takes a loader version or a {GUID}, not '" + value + "'";
    return false;
}

}  // namespace

bool KnobByName(const std::string& name, uint32_t& id)
{
    const std::string wanted = Lower(name);
    for (const vdev::KnobName& knob : vdev::Knobs())
        if (Lower(knob.name) == wanted) {
            id = knob.id;
            return true;
        }
    return false;
}

std::string KnobName(uint32_t id)
{
    for (const vdev::KnobName& knob : vdev::Knobs())
        if (knob.id == id)
            return Lower(knob.name);
    return std::string();
}

std::string KnobValues(uint32_t id)
{
    for (const vdev::KnobName& knob : vdev::Knobs())
        if (knob.id == id)
            return knob.values;
    return std::string();
}

std::vector<uint32_t> KnobIds()
{
    std::vector<uint32_t> ids;
    for (const vdev::KnobName& knob : vdev::Knobs())
        ids.push_back(knob.id);
    return ids;
}

std::vector<InstanceSettings> DefaultSettings()
{
    return {{kDefaultClass, {}, {}}};
}

bool ParseSettings(const std::string& text, std::vector<InstanceSettings>& instances, std::string& problem)
{
    instances.clear();
    std::istringstream lines(text);
    std::string line;
    for (unsigned number = 1; std::getline(lines, line); ++number) {
        const std::string where = SettingsLine(number);
        line = Trim(line.substr(0, line.find_first_of("#;")));
        if (line.empty())
            continue;
        if (line.front() == '[') {
            if (Lower(line) != "[device]") {
                problem = where + "the only section is [device], not " + line;
                return false;
            }
            if (instances.size() == kMaxInstances) {
                problem = where + "at most " + std::to_string(kMaxInstances) + " devices";
                return false;
            }
            instances.push_back({kDefaultClass, {}, {}});
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            problem = where + "expected NAME = VALUE, not " + line;
            return false;
        }
        if (instances.empty()) {
            problem = where + "a setting before the first [device]";
            return false;
        }
        const std::string name = Trim(line.substr(0, equals));
        std::istringstream words(line.substr(equals + 1));
        std::vector<std::string> values{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
        std::string why;
        if (Lower(name) == "interface") {
            if (values.size() != 1 || !InterfaceClass(values[0], instances.back().interfaceClass, why)) {
                problem = where + (why.empty() ? "interface takes one value" : why);
                return false;
            }
            continue;
        }
        VdevKnob knob = {};
        if (!KnobByName(name, knob.id) || knob.id == VDEV_KNOB_RELEASE_READ) {
            problem = where + "no setting is named " + name + " ('uxfer sim help' lists them)";
            return false;
        }
        if (values.empty() || values.size() > 2 || !ParseNumber(values[0], knob.value) ||
            (values.size() == 2 && !ParseNumber(values[1], knob.value2))) {
            problem = where + name + " takes " + KnobValues(knob.id) + " (numbers, decimal or 0x)";
            return false;
        }
        instances.back().knobs.push_back(knob);
        instances.back().lines.push_back(number);
    }
    return true;
}

}  // namespace sim
