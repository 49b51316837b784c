// Runs the real uxfer.exe as a user would: a separate process of the program
// folder, with the pipe shim following it in, its standard output and error
// each captured in a file of its own, its exit code and the scratch files it
// leaves behind.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/device_fixture.h"
#include "common/processes.h"
#include "dumptool/test_files.h"
#include "vdev_client.h"

using UxferResult = ChildResult;

// One uxfer.exe process.  Standard input comes from `input` (a file) or NUL.
class UxferProcess {
public:
    // `arguments` in UTF-8; `flags` go to CreateProcess (CREATE_NO_WINDOW gives
    // the program a console of its own).  `folder`: of a copy of uxfer.exe, run there
    // (default: the program folder's).
    bool Start(const std::string& arguments, const std::string& input = "", DWORD flags = 0,
               const std::string& folder = ProgramFolder());
    // Standard input from `pipe`, the inheritable read end of a pipe.
    bool StartFromPipe(const std::string& arguments, HANDLE pipe, DWORD flags = 0);
    DWORD Id() const { return child_.Id(); }
    // Standard error so far, while the program runs.
    std::string ErrorsSoFar() const { return child_.ErrorsSoFar(); }
    // Waits for the end; kills the program after the limit.
    UxferResult Wait(DWORD timeoutMs = 120000) { return child_.Wait(timeoutMs); }

private:
    bool Launch(const std::string& arguments, ChildOptions options, const std::string& folder);
    ChildProcess child_;
};

UxferResult RunUxfer(const std::string& arguments, const std::string& input = "",
                     const std::string& folder = ProgramFolder());
std::string Quoted(const std::string& path);

// Each test starts from reset device 0 and a scratch folder of its own; at the
// end no temporary file of the tool may be left in it.
class UxferTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Device memory holding `bytes` from word `addr` on.
    void LoadWords(uint32_t addr, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> DeviceBytes(uint32_t addr, uint32_t bytes);
    // The names of the files in the scratch folder, sorted.
    std::vector<std::string> ScratchFiles() const;
    std::string File(const std::string& name) const { return scratch.File(name); }

    vdev::Device device;
    dumptest::ScratchFolder scratch;
};

// Bytes of a wire image whose words carry `dump` in their first byte and 0xFF in the second.
std::vector<uint8_t> WireOf(const std::vector<uint8_t>& dump);
// The first byte of every word of a wire image.
std::vector<uint8_t> DumpOf(const std::vector<uint8_t>& wire);
