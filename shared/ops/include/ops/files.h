// The files of the dump operations: what a write sends or a compare expects
// (a file, standard input or the caller's bytes), read in order a block at a
// time, and the dump file a read writes, which replaces its target only once
// the whole dump is in.  Paths are UTF-16; names are as the user gave them,
// in UTF-8, for the sentences.  What touches the file system is the
// system's (files.cpp on Windows, posix_files.cpp elsewhere); the operations
// see only these classes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ops/error.h"

namespace ops {

// A failure's code as the system gives it (GetLastError, errno), and its text.
using SystemError = uint32_t;
SystemError LastSystemError();
std::string SystemErrorText(SystemError error);

// Paths as the system takes them: UTF-16 on Windows, bytes elsewhere.
#ifdef _WIN32
using Path = std::wstring;
#else
using Path = std::string;
#endif

// Where a read's dump goes.
class Sink {
public:
    virtual ~Sink() = default;
    // False: nothing may be appended before the whole dump is in; until then
    // the operation keeps it in a scratch file.
    virtual bool Streams() const = 0;
    // Adds `bytes` of the dump; on failure the last error says why.
    virtual bool Append(const uint8_t* data, uint32_t bytes) = 0;
    // Why Append failed with `error`.
    virtual Error WriteFailed(SystemError error) const = 0;
    // Once the whole dump is in.
    virtual Error Finish() { return {}; }
};

class Source {
public:
    virtual ~Source() = default;
    const std::string& Name() const { return name_; }
    uint64_t Length() const { return length_; }
    // The next `bytes` (no more than are left); on failure the last error says why.
    virtual bool Read(uint8_t* buffer, uint32_t bytes) = 0;
    // Back to the first byte.
    virtual bool Rewind() = 0;

protected:
    std::string name_;
    uint64_t length_ = 0;
};

// Why `path` (as the user gave it: `name`) can't be used as a file at all;
// no error when it can.
Error CheckName(const Path& path, const std::string& name);
// The file at `path` (as the user gave it, relative or full), checked before
// the device is touched.
Error OpenFileSource(const Path& path, const std::string& name, std::unique_ptr<Source>& source);
// Standard input, read into a scratch file that goes away with the source, so
// that its length is known and a verified write can read it again: to its end,
// or no further than `most` bytes, which leaves the rest to whoever reads it
// next.  `stopped` is asked after each read of the input, which may block for
// as long as the writer sends nothing: whoever stops it cuts that read short.
Error OpenStdinSource(std::unique_ptr<Source>& source, std::optional<uint64_t> most,
                      const std::function<bool()>& stopped);
// `length` bytes the caller holds for as long as the source lives.
std::unique_ptr<Source> MemorySource(const uint8_t* data, uint64_t length, std::string name);

// Bytes to standard output, as they are; on failure the last error says why.
bool WriteStandardOutput(const uint8_t* data, uint32_t bytes);

// A file nobody else sees, in the user's temporary folder, that goes away
// when it is closed or the process ends.  Read and Write move all `bytes` or
// fail; on failure the last error says why.
class Scratch {
public:
    virtual ~Scratch() = default;
    virtual bool Write(const uint8_t* data, uint32_t bytes) = 0;
    virtual bool Rewind() = 0;
    virtual bool Read(uint8_t* buffer, uint32_t bytes) = 0;
};
Error CreateScratch(std::unique_ptr<Scratch>& scratch);

class DumpFile : public Sink {
public:
    // `tempPrefix`: the first three letters of the temporary file's name.
    explicit DumpFile(const char* tempPrefix);
    ~DumpFile() override;

    // Checks that `path` (as the user gave it) can be replaced and makes the
    // temporary file beside it, before the device is touched.
    Error Prepare(const Path& path, const std::string& name);
    bool Streams() const override { return true; }
    bool Append(const uint8_t* data, uint32_t bytes) override;
    Error WriteFailed(SystemError error) const override;
    // Puts the complete dump in place of the target.
    Error Finish() override;

private:
    class Target;  // the system's file that replaces the target
    const char* tempPrefix_;
    std::string name_;
    std::unique_ptr<Target> file_;
};

}  // namespace ops
