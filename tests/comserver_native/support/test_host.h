// Host services for native runs of the script parser: a heap that counts its
// blocks and can refuse the n-th request, and an ANSI code page stand-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>

#include "registry/rgs_host.h"

namespace rgstest {

class CountingAllocator final : public rgs::Allocator {
public:
    void* Alloc(std::size_t bytes) override;
    void* Realloc(void* block, std::size_t bytes) override;
    void Free(void* block) override;

    // Refuses the request numbered `n` from now (0: the next one) and every
    // later one; -1 refuses none.
    void FailFrom(long n) { failFrom_ = n < 0 ? -1 : requests_ + n; }
    std::size_t Live() const { return live_.size(); }
    long Requests() const { return requests_; }

private:
    bool Refuse()
    {
        const long request = requests_++;
        return failFrom_ >= 0 && request >= failFrom_;
    }

    std::set<void*> live_;
    long requests_ = 0;
    long failFrom_ = -1;
};

// Single-byte for units below 0x80 ('?' for the rest), decimal numbers.  With
// double-byte characters on, bytes 0x81 to 0xFE lead a two-byte character.
class TestLocale final : public rgs::Locale {
public:
    explicit TestLocale(bool doubleByte = false) : doubleByte_(doubleByte) {}

    bool IsLeadByte(unsigned char byte) const override { return doubleByte_ && byte >= 0x81 && byte <= 0xFE; }
    bool FromWide(const char16_t* text, std::size_t length, char* out, std::size_t capacity,
                  std::size_t* written) const override;
    rgs::Result ParseUnsigned(const char* text, uint32_t* value) const override;

private:
    bool doubleByte_;
};

}  // namespace rgstest
