#include "numbers.h"

namespace uxfer {

bool ParseNumber(const std::string& text, bool allowUnit, uint32_t& value)
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
        number = number * base + digit;
        if (number > UINT32_MAX)
            return false;
    }
    if (pos == firstDigit)
        return false;
    if (allowUnit && pos + 1 == text.size()) {
        const char unit = text[pos];
        if (unit == 'K' || unit == 'k')
            number <<= 10;
        else if (unit == 'M' || unit == 'm')
            number <<= 20;
        else
            return false;
        ++pos;
    }
    if (pos != text.size() || number > UINT32_MAX)
        return false;
    value = static_cast<uint32_t>(number);
    return true;
}

}  // namespace uxfer
