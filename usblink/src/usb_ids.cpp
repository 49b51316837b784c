#include "usblink/usb_ids.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace usblink {

namespace {

constexpr char kEnvironmentName[] = "UXFER_USB";
constexpr char kOptionName[] = "--usb";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool ParseHex16(std::string_view text, uint16_t& value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 4)
        return false;
    unsigned result = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        result = result * 16 + digit;
    }
    value = static_cast<uint16_t>(result);
    return true;
}

void Add(IdSet& set, UsbId id)
{
    if (!set.Contains(id))
        set.ids.push_back(id);
}

std::string NotAnId(std::string_view entry)
{
    return "\"" + std::string(entry) + "\" is not a VID:PID (two hex numbers of up to 4 digits, e.g. 1234:cd02)";
}

// Adds one entry, or says where it went wrong.
void Take(std::string_view entry, const std::string& where, IdSet& set)
{
    UsbId id;
    if (ParseId(entry, id))
        Add(set, id);
    else
        set.problems.push_back(where + ": " + NotAnId(entry));
}

}  // namespace

bool IsFamilyProduct(uint16_t product)
{
    return std::find(std::begin(kFamilyProducts), std::end(kFamilyProducts), product) != std::end(kFamilyProducts);
}

std::string IdText(UsbId id)
{
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", id.vendor, id.product);
    return text;
}

bool ParseId(std::string_view text, UsbId& id)
{
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    UsbId parsed;
    if (!ParseHex16(text.substr(0, colon), parsed.vendor) || !ParseHex16(text.substr(colon + 1), parsed.product))
        return false;
    id = parsed;
    return true;
}

bool IdSet::Contains(UsbId id) const
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

Result ParseConfigText(std::string_view text, const std::string& file, IdSet& set)
{
    try {
        unsigned lineNumber = 0;
        while (!text.empty()) {
            const size_t end = text.find('\n');
            std::string_view line = text.substr(0, end);
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            ++lineNumber;
            line = Trim(line.substr(0, line.find('#')));
            if (!line.empty())
                Take(line, file + " line " + std::to_string(lineNumber), set);
        }
        return Ok();
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

Result ReadConfigFile(const std::string& file, IdSet& set)
{
    try {
        std::FILE* in = std::fopen(file.c_str(), "rb");
        if (!in) {
            // A file that isn't there configures nothing; one that is there must be read.
            if (errno != ENOENT && errno != ENOTDIR)
                set.problems.push_back(file + ": can't be read (" + std::strerror(errno) + ")");
            return Ok();
        }
        std::string text;
        char block[4096];
        size_t got;
        while ((got = std::fread(block, 1, sizeof block, in)) > 0)
            text.append(block, got);
        const bool failed = std::ferror(in) != 0;
        std::fclose(in);
        if (failed) {
            set.problems.push_back(file + ": can't be read");
            return Ok();
        }
        return ParseConfigText(text, file, set);
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

Result ParseIdList(std::string_view list, const std::string& source, IdSet& set)
{
    try {
        while (!list.empty()) {
            const size_t end = list.find_first_of(", \t\r\n");
            const std::string_view entry = list.substr(0, end);
            list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
            if (!entry.empty())
                Take(entry, source, set);
        }
        return Ok();
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

Result LoadIds(const IdSources& sources, IdSet& set)
{
    set = IdSet();
    for (const std::string& file : sources.files) {
        Result result = ReadConfigFile(file, set);
        if (!result.ok())
            return result;
    }
    if (sources.environment) {
        Result result = ParseIdList(sources.environment, kEnvironmentName, set);
        if (!result.ok())
            return result;
    }
    try {
        // An option takes one id: "--usb a:b,c:d" is a mistake worth saying.
        for (const std::string& option : sources.options)
            Take(Trim(option), kOptionName, set);
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
    return Ok();
}

}  // namespace usblink
