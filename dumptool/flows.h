// The Read and Write flows of the dump tool, free of any window: each runs to
// completion, reports exactly one outcome and releases what it acquired.
#pragma once

#include <cstdint>

#include "dump/settings.h"
#include "uXfer.h"

namespace dump {

enum class Outcome {
    OpenFileFailed,
    AllocFailed,
    OpenUsbFailed,
    ResetFailed,
    ReadFailed,
    ReadSuccess,
    WriteFailed,
    WriteSuccess,
};

// The message the user reads for an outcome.
const char* OutcomeText(Outcome outcome);

// Shows the outcome of a flow.  It is called while the flow still holds its
// buffers and device connection; they are released once it returns.
class Reporter {
public:
    virtual void Show(Outcome outcome) = 0;

protected:
    ~Reporter() = default;
};

// The device side of a transfer on an open connection: 0 on success, 1 when
// the wire buffer can't be had, RESULT_IO_FAILED when fewer bytes moved than
// asked, otherwise the library's result.
uint32_t ReadDevice(uint32_t addr, uint32_t size, uint32_t mode, uint8_t* dump);
uint32_t WriteDevice(uint32_t addr, uint32_t size, uint32_t mode, const uint8_t* dump);

// Device memory into the forWrite file.
void ReadFlow(const DumpSettings& settings, Reporter& reporter);
// The forRead file into device memory.
void WriteFlow(const DumpSettings& settings, Reporter& reporter);

}  // namespace dump
