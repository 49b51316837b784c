// A scratch file over a file source of the system's (windows/files.cpp,
// linux/files.cpp): reads, rewinds and writes as the source does.
#pragma once

#include <utility>

#include "ops/files.h"

namespace ops {

template <class FileSource, class Handle>
class ScratchOf : public Scratch {
public:
    explicit ScratchOf(Handle file) : file_(std::move(file), "", 0) {}
    bool Write(const uint8_t* data, uint32_t bytes) override { return file_.Write(data, bytes); }
    bool Rewind() override { return file_.Rewind(); }
    bool Read(uint8_t* buffer, uint32_t bytes) override { return file_.Read(buffer, bytes); }

private:
    FileSource file_;
};

}  // namespace ops
