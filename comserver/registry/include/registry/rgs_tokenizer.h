// Splits a preprocessed registry script into tokens.  White space is space,
// tab, CR and LF.  A token starting with ' runs to the next ' that is not
// doubled ('' stands for one '), without the quotes; any other token runs to
// the next white space.  Double-byte characters are never split.
#pragma once

#include <stddef.h>

#include "registry/rgs_host.h"

namespace rgs {

// Longest token, in bytes.
constexpr size_t kMaxToken = 4094;

enum class TokenStatus { Token, End, Malformed };

class Tokenizer {
public:
    // `buffer` has room for kMaxToken bytes and a terminator.
    Tokenizer(const char* text, size_t length, const Locale& locale, char* buffer)
        : text_(text), length_(length), locale_(locale), token_(buffer)
    {
        token_[0] = '\0';
    }

    // End when only white space is left; Malformed for a token over
    // kMaxToken bytes or a quote that is never closed.
    TokenStatus Next();

    // The last token, zero-terminated.
    const char* Token() const { return token_; }
    size_t TokenLength() const { return tokenLength_; }
    // The last token equals `word`, ASCII letters compared without case.
    bool Is(const char* word) const;

    size_t Position() const { return at_; }
    void Rewind(size_t position) { at_ = position; }

private:
    bool IsSpace(size_t at) const;
    // Bytes of the character at `at`: 2 for a double-byte one.
    size_t CharLength(size_t at) const;
    bool Put(size_t at, size_t count);

    const char* text_;
    size_t length_;
    const Locale& locale_;
    char* token_;
    size_t tokenLength_ = 0;
    size_t at_ = 0;
};

}  // namespace rgs
