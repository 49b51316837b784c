#include "dump/numbers.h"

#include <cstdio>

#include "dump/wire.h"

namespace dump {

namespace {

// The first word address whose byte address no longer fits in 32 bits.
constexpr uint64_t kWordSpace = 0x80000000u;

// The requests count 4-byte units on the wire, 2 words each: an odd number
// of words would lose its last one (a single word, everything).
std::string OddWordsProblem(uint64_t words)
{
    const std::string even = words > 1 ? std::to_string(words - 1) + " or " + std::to_string(words + 1) : "2";
    return "the device counts units of 2 words, so " + std::to_string(words) +
           " words would leave out the last one; give an even size (" + even + ")";
}

}  // namespace

const char kLimit16[] = "the request carries it in a 16-bit word: at most 0xFFFF";
const char kLimit32[] = "at most 0xFFFFFFFF";
const char kLimitWords[] = "the byte image of a range, 2 bytes a word, must fit in 32 bits: at most 0x7FFFFFFF";
const char kLimitTimeout[] = "at most 2147483";

std::optional<uint64_t> ParseNumber(const std::string& text, bool allowUnit)
{
    size_t pos = 0;
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        pos = 2;
    }
    uint64_t number = 0;
    const size_t firstDigit = pos;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        // Saturates: a value this large is refused as too large, not wrapped into range.
        number = number > (UINT64_MAX - digit) / base ? UINT64_MAX : number * base + digit;
    }
    if (pos == firstDigit)
        return std::nullopt;
    if (allowUnit && pos + 1 == text.size()) {
        const char unit = text[pos];
        unsigned shift;
        if (unit == 'K' || unit == 'k')
            shift = 10;
        else if (unit == 'M' || unit == 'm')
            shift = 20;
        else
            return std::nullopt;
        number = number > (UINT64_MAX >> shift) ? UINT64_MAX : number << shift;
        ++pos;
    }
    if (pos != text.size())
        return std::nullopt;
    return number;
}

std::string HexText(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string RangeProblem(uint32_t addr, uint32_t size, const char* addrName, const char* sizeName, bool oddReadable)
{
    const std::string sizeText = std::string(sizeName) + " " + HexText(size);
    if (size == 0)
        return std::string(sizeName) + " can't be 0";
    if (!WireFits(size))
        return sizeText + " (" + std::to_string(size) + " words) is too large: one transfer carries at most " +
               HexText(kMaxDumpSize) + " words, whose wire image (2 bytes a word) has a 32-bit length";
    if (size % 2 && !oddReadable)
        return sizeText + " is odd: " + OddWordsProblem(size);
    const uint64_t end = static_cast<uint64_t>(addr) + size;
    if (end > kWordSpace)
        return std::string(addrName) + " " + HexText(addr) + " " + sizeText + ": the range " + HexText(addr) + ".." +
               HexText(end - 1) + " crosses the top of the device's address space (the last word is " +
               HexText(kWordSpace - 1) + ")";
    if (size % 2 && end == kWordSpace)
        return sizeText + " is odd and the range ends at the device's last word: the device counts units of 2 words, "
                          "so the word past the range that completes the last unit doesn't exist; give an even size (" +
               std::to_string(size - 1) + ")";
    return std::string();
}

std::string NumberProblem(const std::string& name, const std::string& text, bool allowUnit, uint64_t max,
                          const char* limit, uint64_t& value)
{
    const std::optional<uint64_t> parsed = ParseNumber(text, allowUnit);
    if (!parsed && text.size() > 1 && text[0] == '-' && ParseNumber(text.substr(1), allowUnit))
        return name + ": " + text + " is negative: give 0 to " + HexText(max);
    if (!parsed)
        return name + ": '" + text + "' is not a number (decimal or 0x hexadecimal" +
               (allowUnit ? ", K or M for KiB or MiB)" : ")");
    if (*parsed > max)
        return name + ": '" + text + "' is too large (" + limit + ")";
    value = *parsed;
    return {};
}

std::string SizeFromLength(const std::string& name, const char* command, uint64_t length, bool raw,
                           const char* sizeName, bool oddReadable, uint32_t& size)
{
    if (raw && length % 2)
        return name + " has " + std::to_string(length) + " bytes, an odd number: a raw file holds 2 bytes a word";
    const uint64_t words = raw ? length / 2 : length;
    if (words == 0)
        return name + " is empty: there is nothing to " + command;
    if (words > kMaxDumpSize)
        return name + " has " + std::to_string(length) + " bytes, more than one transfer carries (" +
               HexText(kMaxDumpSize) + " words); give a " + std::string(sizeName);
    if (words % 2 && !oddReadable)
        return name + " holds " + std::to_string(words) + " device words, an odd number: " + OddWordsProblem(words);
    size = static_cast<uint32_t>(words);
    return {};
}

std::string ShortSourceProblem(const std::string& name, const char* command, uint64_t length, uint64_t needed,
                               const std::string& remedy)
{
    if (length >= needed)
        return {};
    return name + " has " + std::to_string(length) + " bytes, fewer than the " + std::to_string(needed) +
           " bytes the " + command + " needs; " + remedy;
}

uint32_t DefaultTimeoutSeconds(uint64_t wireBytes, uint32_t requests)
{
    constexpr uint32_t kBaseTimeoutSeconds = 60;
    constexpr uint32_t kWireBytesPerSecond = 128 * 1024;
    // Before and after its command, a request waits for the device: on the
    // oldest Windows, up to 1000 status polls 10 ms apart each time.
    constexpr uint32_t kRequestWaitSeconds = 2 * 10;
    const uint32_t further = requests > 1 ? requests - 1 : 0;
    return kBaseTimeoutSeconds + static_cast<uint32_t>(wireBytes / kWireBytesPerSecond) + further * kRequestWaitSeconds;
}

}  // namespace dump
