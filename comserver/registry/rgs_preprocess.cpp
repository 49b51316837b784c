#include "registry/rgs_preprocess.h"

#include "rgs_text.h"

namespace rgs {

namespace {

constexpr size_t kMinimumCapacity = 16;

// Appends to a heap block that starts at twice the script's length and doubles
// whenever it is full.
class Output {
public:
    Output(HeapBlock& block) : block_(block) {}

    bool Start(size_t scriptLength)
    {
        if (scriptLength > static_cast<size_t>(-1) / 2)
            return false;
        const size_t capacity = scriptLength * 2;
        return block_.Resize(capacity < kMinimumCapacity ? kMinimumCapacity : capacity);
    }

    // Room for `count` more bytes.
    bool Reserve(size_t count)
    {
        size_t capacity = block_.Size();
        while (capacity - length_ < count) {
            if (capacity > static_cast<size_t>(-1) / 2)
                return false;
            capacity *= 2;
        }
        return capacity == block_.Size() || block_.Resize(capacity);
    }

    bool Append(const char* bytes, size_t count)
    {
        if (!Reserve(count))
            return false;
        CopyBytes(block_.Bytes() + length_, bytes, count);
        length_ += count;
        return true;
    }

    char* End() const { return block_.Bytes() + length_; }
    size_t Room() const { return block_.Size() - length_; }
    void Advance(size_t count) { length_ += count; }
    size_t Length() const { return length_; }

private:
    HeapBlock& block_;
    size_t length_ = 0;
};

Result AppendValue(Output& out, const char16_t* value, const Locale& locale)
{
    const size_t units = Length(value);
    if (units == 0)
        return kOk;
    size_t needed = 0;
    if (!locale.FromWide(value, units, nullptr, 0, &needed))
        return kFail;
    if (!out.Reserve(needed))
        return kOutOfMemory;
    size_t written = 0;
    if (!locale.FromWide(value, units, out.End(), out.Room(), &written))
        return kFail;
    out.Advance(written);
    return kOk;
}

}  // namespace

Result Preprocess(const char* script, size_t size, const ReplacementTable& table, const Locale& locale,
                  HeapBlock& text, size_t* length)
{
    size_t end = 0;
    while (end < size && script[end] != '\0')
        ++end;

    Output out(text);
    if (!out.Start(end))
        return kOutOfMemory;

    // Steps over one character, a double-byte one whole.
    auto step = [&](size_t at) -> size_t {
        return locale.IsLeadByte(static_cast<unsigned char>(script[at])) && at + 1 < end ? 2 : 1;
    };

    size_t at = 0;
    while (at < end) {
        if (script[at] != '%') {
            const size_t count = step(at);
            if (!out.Append(script + at, count))
                return kOutOfMemory;
            at += count;
            continue;
        }
        const size_t name = at + 1;
        size_t close = name;
        while (close < end && script[close] != '%')
            close += step(close);
        if (close >= end)
            return kDispException;
        const size_t nameLength = close - name;
        if (nameLength == 0) {
            if (!out.Append("%", 1))
                return kOutOfMemory;
        } else {
            if (nameLength > kMaxPlaceholderName)
                return kFail;
            const char16_t* value = table.Find(script + name, nameLength);
            if (!value)
                return kDispException;
            const Result result = AppendValue(out, value, locale);
            if (Failed(result))
                return result;
        }
        at = close + 1;
    }
    *length = out.Length();
    return kOk;
}

}  // namespace rgs
