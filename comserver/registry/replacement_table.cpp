#include "registry/replacement_table.h"

#include "rgs_text.h"

namespace rgs {

ReplacementTable::~ReplacementTable()
{
    for (size_t i = 0; i < count_; ++i) {
        allocator_.Free(Pairs()[i].name);
        allocator_.Free(Pairs()[i].value);
    }
}

char16_t* ReplacementTable::Copy(const char16_t* text)
{
    const size_t bytes = (Length(text) + 1) * sizeof(char16_t);
    auto* copy = static_cast<char16_t*>(allocator_.Alloc(bytes));
    if (copy)
        CopyBytes(copy, text, bytes);
    return copy;
}

Result ReplacementTable::Add(const char16_t* name, const char16_t* value)
{
    const size_t capacity = pairs_.Size() / sizeof(Pair);
    if (count_ == capacity) {
        const size_t grown = capacity == 0 ? kFirstCapacity : capacity * 2;
        if (!pairs_.Resize(grown * sizeof(Pair)))
            return kOutOfMemory;
    }
    Pair pair{Copy(name), Copy(value)};
    if (!pair.name || !pair.value) {
        allocator_.Free(pair.name);
        allocator_.Free(pair.value);
        return kOutOfMemory;
    }
    Pairs()[count_++] = pair;
    return kOk;
}

const char16_t* ReplacementTable::Find(const char* name, size_t length) const
{
    for (size_t i = 0; i < count_; ++i) {
        const char16_t* candidate = Pairs()[i].name;
        size_t n = 0;
        while (n < length && candidate[n] != u'\0' &&
               FoldAscii(static_cast<unsigned char>(name[n])) == FoldAscii(candidate[n]))
            ++n;
        if (n == length && candidate[n] == u'\0')
            return Pairs()[i].value;
    }
    return nullptr;
}

}  // namespace rgs
