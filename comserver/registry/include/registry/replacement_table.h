// Names and values put into a registry script through %name% placeholders.
#pragma once

#include <stddef.h>

#include "registry/rgs_host.h"

namespace rgs {

class ReplacementTable {
public:
    explicit ReplacementTable(Allocator& allocator) : allocator_(allocator), pairs_(allocator) {}
    ~ReplacementTable();
    ReplacementTable(const ReplacementTable&) = delete;
    ReplacementTable& operator=(const ReplacementTable&) = delete;

    // Adds copies of both strings; kOutOfMemory when they cannot be stored.
    Result Add(const char16_t* name, const char16_t* value);
    // The value of `name` (ANSI bytes, `length` of them), comparing ASCII
    // letters without regard to case; null when the table lacks it.
    const char16_t* Find(const char* name, size_t length) const;

private:
    struct Pair {
        char16_t* name;
        char16_t* value;
    };
    static constexpr size_t kFirstCapacity = 10;

    char16_t* Copy(const char16_t* text);
    Pair* Pairs() const { return reinterpret_cast<Pair*>(pairs_.Bytes()); }

    Allocator& allocator_;
    HeapBlock pairs_;
    size_t count_ = 0;
};

}  // namespace rgs
