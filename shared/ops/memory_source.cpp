// Bytes the caller holds as a source, the same on every system.
#include <cstring>

#include "ops/files.h"

namespace ops {

namespace {

class BytesSource : public Source {
public:
    BytesSource(const uint8_t* data, uint64_t length, std::string name) : data_(data)
    {
        name_ = std::move(name);
        length_ = length;
    }
    bool Read(uint8_t* buffer, uint32_t bytes) override
    {
        std::memcpy(buffer, data_ + position_, bytes);
        position_ += bytes;
        return true;
    }
    bool Rewind() override
    {
        position_ = 0;
        return true;
    }

private:
    const uint8_t* data_;
    uint64_t position_ = 0;
};

}  // namespace

std::unique_ptr<Source> MemorySource(const uint8_t* data, uint64_t length, std::string name)
{
    return std::make_unique<BytesSource>(data, length, std::move(name));
}

}  // namespace ops
