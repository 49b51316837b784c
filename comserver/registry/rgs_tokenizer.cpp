#include "registry/rgs_tokenizer.h"

#include "rgs_text.h"

namespace rgs {

bool Tokenizer::IsSpace(size_t at) const
{
    const char c = text_[at];
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

size_t Tokenizer::CharLength(size_t at) const
{
    return locale_.IsLeadByte(static_cast<unsigned char>(text_[at])) && at + 1 < length_ ? 2 : 1;
}

bool Tokenizer::Put(size_t at, size_t count)
{
    if (tokenLength_ + count > kMaxToken)
        return false;
    CopyBytes(token_ + tokenLength_, text_ + at, count);
    tokenLength_ += count;
    return true;
}

TokenStatus Tokenizer::Next()
{
    tokenLength_ = 0;
    token_[0] = '\0';
    while (at_ < length_ && IsSpace(at_))
        ++at_;
    if (at_ >= length_)
        return TokenStatus::End;

    if (text_[at_] == '\'') {
        ++at_;
        for (;;) {
            if (at_ >= length_)
                return TokenStatus::Malformed;
            if (text_[at_] == '\'') {
                if (at_ + 1 < length_ && text_[at_ + 1] == '\'') {
                    if (!Put(at_, 1))
                        return TokenStatus::Malformed;
                    at_ += 2;
                    continue;
                }
                ++at_;
                break;
            }
            const size_t count = CharLength(at_);
            if (!Put(at_, count))
                return TokenStatus::Malformed;
            at_ += count;
        }
    } else {
        while (at_ < length_ && !IsSpace(at_)) {
            const size_t count = CharLength(at_);
            if (!Put(at_, count))
                return TokenStatus::Malformed;
            at_ += count;
        }
    }
    token_[tokenLength_] = '\0';
    return TokenStatus::Token;
}

bool Tokenizer::Is(const char* word) const { return EqualNoCase(token_, word); }

}  // namespace rgs
