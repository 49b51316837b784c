#include "test_host.h"

#include <cstdlib>

namespace rgstest {

void* CountingAllocator::Alloc(std::size_t bytes)
{
    if (Refuse())
        return nullptr;
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    live_.insert(block);
    return block;
}

void* CountingAllocator::Realloc(void* block, std::size_t bytes)
{
    if (!block)
        return Alloc(bytes);
    if (Refuse())
        return nullptr;
    live_.erase(block);
    void* moved = std::realloc(block, bytes == 0 ? 1 : bytes);
    live_.insert(moved);
    return moved;
}

void CountingAllocator::Free(void* block)
{
    if (!block)
        return;
    live_.erase(block);
    std::free(block);
}

bool TestLocale::FromWide(const char16_t* text, std::size_t length, char* out, std::size_t capacity,
                          std::size_t* written) const
{
    if (out && capacity < length)
        return false;
    for (std::size_t i = 0; out && i < length; ++i)
        out[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    *written = length;
    return true;
}

rgs::Result TestLocale::ParseUnsigned(const char* text, uint32_t* value) const
{
    if (*text == '\0')
        return rgs::kTypeMismatch;
    uint64_t number = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9')
            return rgs::kTypeMismatch;
        number = number * 10 + static_cast<unsigned>(*text - '0');
        if (number > UINT32_MAX)
            return rgs::kOverflow;
    }
    *value = static_cast<uint32_t>(number);
    return rgs::kOk;
}

}  // namespace rgstest
