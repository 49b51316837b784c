// Small byte and UTF-16 string helpers for the registry-script code, which
// may use no runtime library.
#pragma once

#include <stddef.h>

namespace rgs {

inline unsigned FoldAscii(unsigned c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

inline size_t Length(const char* text)
{
    size_t n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

inline size_t Length(const char16_t* text)
{
    size_t n = 0;
    while (text[n] != u'\0')
        ++n;
    return n;
}

inline void CopyBytes(void* to, const void* from, size_t count)
{
    char* out = static_cast<char*>(to);
    const char* in = static_cast<const char*>(from);
    for (size_t i = 0; i < count; ++i)
        out[i] = in[i];
}

// Zero-terminated byte strings equal apart from the case of ASCII letters.
inline bool EqualNoCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        if (FoldAscii(static_cast<unsigned char>(*a)) != FoldAscii(static_cast<unsigned char>(*b)))
            return false;
        if (*a == '\0')
            return true;
    }
}

}  // namespace rgs
