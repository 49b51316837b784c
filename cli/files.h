// The files of a read or write.  "-" stands for standard output (read) or
// standard input (write), both binary.  Names come in UTF-8 and go to the
// wide file functions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dump/file.h"
#include "dump/stream.h"
#include "win/unique_any.h"

namespace cli {

// win::FullPath of a UTF-8 name.
std::wstring FullPath(const std::string& path);
// win::ShownPath in UTF-8.
std::string Shown(const std::wstring& path);

// True when `path` names an existing file (not a folder).
bool FileExists(const std::wstring& path);

// The destination of a dump.  A file is written to a temporary file in its
// folder that replaces it only once the whole dump is stored; until then, and
// on every failure, the old file is left as it was and the temporary file is
// removed again.
class DumpOutput : public dump::DumpSink {
public:
    DumpOutput() = default;
    DumpOutput(const DumpOutput&) = delete;
    DumpOutput& operator=(const DumpOutput&) = delete;

    // Checks that `file` can be replaced and makes the temporary file, before
    // the device is touched.  Prints the error and returns the exit code.
    int Prepare(const std::string& file);
    // Standard output only: the dump goes out as a hex dump (output.h) of
    // the words from `addr` on.
    void AsHexDump(uint32_t addr, bool raw)
    {
        hex_ = true;
        hexAddr_ = addr;
        raw_ = raw;
    }
    // A file streams; standard output waits for the whole dump.
    bool Streams() const override { return file_ != nullptr; }
    // Adds `bytes` to the temporary file or standard output; on failure the
    // last error says why.  Prints nothing: it may run during the transfer,
    // whose progress line owns standard error.
    bool Append(const uint8_t* data, uint32_t bytes) override;
    // Prints why Append or Flush failed with `error`; returns the exit code.
    int WriteFailed(DWORD error);
    // Puts the complete dump in place of the file (nothing to do for standard output).
    int Commit();

private:
    std::string name_;  // as the user gave it
    std::unique_ptr<dump::ReplacementFile> file_;  // none for standard output
    bool hex_ = false;
    uint32_t hexAddr_ = 0;  // of the next byte appended
    bool raw_ = false;
};

// Reads what a write sends or a compare expects.  `length` receives the
// length of the source: known before reading for a file; standard input is
// read to its end.
class WriteSource {
public:
    // Checks the file (or takes standard input in full) and learns its length.
    int Open(const std::string& file, uint64_t& length);
    // Copies the first `bytes` bytes (no more than the length) to `buffer`.
    int ReadInto(uint8_t* buffer, uint32_t bytes);

private:
    std::string name_;
    win::unique_file file_;
    std::vector<uint8_t> stdinData_;
    bool fromStdin_ = false;
};

}  // namespace cli
