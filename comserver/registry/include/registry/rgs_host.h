// What the registry-script parser needs from the program it runs in: memory,
// and the system's ANSI code page.  No platform header and no runtime library
// here: the same parser runs inside Talvix.dll and in the native test build.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace rgs {

// HRESULT values.
using Result = int32_t;
constexpr Result kOk = 0;
constexpr Result kFail = static_cast<Result>(0x80004005);           // E_FAIL
constexpr Result kOutOfMemory = static_cast<Result>(0x8007000E);    // E_OUTOFMEMORY
constexpr Result kDispException = static_cast<Result>(0x80020009);  // DISP_E_EXCEPTION
constexpr Result kTypeMismatch = static_cast<Result>(0x80020005);   // DISP_E_TYPEMISMATCH
constexpr Result kOverflow = static_cast<Result>(0x8002000A);       // DISP_E_OVERFLOW

inline bool Failed(Result result) { return result < 0; }

class Allocator {
public:
    // Null when the heap refuses.
    virtual void* Alloc(size_t bytes) = 0;
    // Null block: as Alloc.  Null when the heap refuses; the block is then left
    // as it was.
    virtual void* Realloc(void* block, size_t bytes) = 0;
    // Null is allowed and does nothing.
    virtual void Free(void* block) = 0;

protected:
    ~Allocator() = default;
};

// The ANSI code page of the system the script runs on.
class Locale {
public:
    // True for the first byte of a double-byte character.
    virtual bool IsLeadByte(unsigned char byte) const = 0;
    // Converts `length` (> 0) UTF-16 units.  With out == nullptr only the byte
    // count needed is stored.  False when the text cannot be converted or does
    // not fit.
    virtual bool FromWide(const char16_t* text, size_t length, char* out, size_t capacity,
                          size_t* written) const = 0;
    // Decimal text to an unsigned 32-bit number, the locale's number rules.
    virtual Result ParseUnsigned(const char* text, uint32_t* value) const = 0;

protected:
    ~Locale() = default;
};

// Owns one block of an Allocator.
class HeapBlock {
public:
    explicit HeapBlock(Allocator& allocator) : allocator_(allocator) {}
    ~HeapBlock() { allocator_.Free(data_); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    // Grows or shrinks the block, keeping its content; false leaves it as it was.
    bool Resize(size_t bytes)
    {
        void* moved = allocator_.Realloc(data_, bytes == 0 ? 1 : bytes);
        if (!moved)
            return false;
        data_ = moved;
        size_ = bytes;
        return true;
    }

    char* Bytes() const { return static_cast<char*>(data_); }
    char16_t* Units() const { return static_cast<char16_t*>(data_); }
    size_t Size() const { return size_; }

private:
    Allocator& allocator_;
    void* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace rgs
