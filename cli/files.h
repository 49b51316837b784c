// The files of a read, write or compare.  "-" stands for standard output
// (read) or standard input (write, compare), both binary.  Names come in
// UTF-8 and go to the system's file functions (platform.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ops/files.h"

namespace cli {

// The destination of a dump: a file (ops::DumpFile), or standard output,
// which gets the dump only once it is all in.
class DumpOutput : public ops::Sink {
public:
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
    bool Streams() const override { return file_ != nullptr; }
    // Prints nothing: it may run during the transfer, whose progress line
    // owns standard error.
    bool Append(const uint8_t* data, uint32_t bytes) override;
    ops::Error WriteFailed(ops::SystemError error) const override;
    ops::Error Finish() override;

private:
    std::unique_ptr<ops::DumpFile> file_;  // none for standard output
    bool hex_ = false;
    uint32_t hexAddr_ = 0;  // of the next byte appended
    bool raw_ = false;
};

// What a write sends or a compare expects: `file`, or standard input for "-",
// read no further than the `needed` bytes of a size given.  Prints the error
// and returns the exit code.
int OpenSource(const std::string& file, std::optional<uint64_t> needed, std::unique_ptr<ops::Source>& source);

}  // namespace cli
