// DumpSet.ini read as Windows' profile functions read it: section and key
// names in any case, blanks around names and values dropped, the first of
// repeated keys; a number is the decimal digits the value starts with.
#include "dump/settings.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <optional>

namespace dump {

namespace {

constexpr uint32_t kDefaultSize = 0x2000;

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    const size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::optional<std::string> Find(const std::string& path, const char* key)
{
    std::ifstream file(path);
    bool inSection = false;
    for (std::string line; std::getline(file, line);) {
        line = Trim(line);
        if (!line.empty() && line[0] == '[') {
            const size_t end = line.find(']');
            inSection = end != std::string::npos && SameName(Trim(line.substr(1, end - 1)), kSettingsSection);
            continue;
        }
        const size_t equals = line.find('=');
        if (inSection && equals != std::string::npos && SameName(Trim(line.substr(0, equals)), key))
            return Trim(line.substr(equals + 1));
    }
    return std::nullopt;
}

uint32_t ReadNumber(const std::string& path, const char* key, uint32_t fallback)
{
    const std::optional<std::string> value = Find(path, key);
    return value ? static_cast<uint32_t>(std::strtoul(value->c_str(), nullptr, 10)) : fallback;
}

}  // namespace

DumpSettings LoadSettings(const std::string& path)
{
    DumpSettings s;
    s.forRead = Find(path, kKeyForRead).value_or("");
    s.forWrite = Find(path, kKeyForWrite).value_or("");
    s.Size = ReadNumber(path, "Size", kDefaultSize);
    s.Addr = ReadNumber(path, "Addr", 0);
    s.readMode = ReadNumber(path, "readMode", 0);
    s.writeMode = ReadNumber(path, "writeMode", 0);
    return s;
}

}  // namespace dump
