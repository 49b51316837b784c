// Shared pieces of the uXfer tests: the fixture on instance 0 of the virtual
// device, a compact trace of its log, a window that collects progress
// messages, and the device-notification listener of this process.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/device_log.h"
#include "common/processes.h"
#include "transfer/debug_texts.h"
#include "uXfer.h"
#include "vdev_client.h"

// One line per log record that matters to the library's behaviour:
//   "ctl A0" (vendor request; " failed" appended when the driver failed it),
//   "reset 2", "read 65536>65536" (requested>moved), "write 0>0",
//   "open PIPE1" (" failed" appended when the device refused it), "close
//   control".  Handle records only when asked for.
std::vector<std::string> Trace(const std::vector<VdevLogRecord>& log, bool withHandles = false);

TransferDesc Desc(uint32_t address, uint32_t length, uint32_t unitSize = 4);

// Device instance 0 reset, delay 0, instance 0, default class, no messages;
// the library connection closed and the default delay back afterwards.
class XferTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::vector<VdevLogRecord> Log() { return device.Log(); }

    vdev::Device device;
};

// A test that starts with the connection open on control and both pipes and an empty log.
class XferOpenTest : public XferTest {
protected:
    void SetUp() override;
};

// A second device instance for the length of a test.
class ExtraInstance {
public:
    ExtraInstance() : number_(vdev::AddInstance()) {}
    ~ExtraInstance();
    ExtraInstance(const ExtraInstance&) = delete;
    ExtraInstance& operator=(const ExtraInstance&) = delete;
    int Number() const { return number_; }

private:
    int number_;
};

// A top-level window on the calling thread; records the dwData of every
// progress message it receives and the device-interface arrivals.
class ProgressWindow {
public:
    ProgressWindow();
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    HWND Handle() const { return window_; }
    const std::vector<uint32_t>& Progress() const { return progress_; }
    // Messages with a wrong cbData, lpData or wParam.
    unsigned Malformed() const { return malformed_; }
    const std::vector<GUID>& Arrivals() const { return arrivals_; }
    // Pumps messages until another arrival came or the time is up.
    bool WaitArrival(DWORD timeoutMs);
    // Called on each progress message, on the sending thread.
    void OnProgress(void (*hook)(void*), void* context)
    {
        hook_ = hook;
        hookContext_ = context;
    }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_ = nullptr;
    std::vector<uint32_t> progress_;
    std::vector<GUID> arrivals_;
    unsigned malformed_ = 0;
    void (*hook_)(void*) = nullptr;
    void* hookContext_ = nullptr;
};

// Wine hands device-change messages to the windows of a process through a
// thread that the process starts at its first registration and that signs up
// with the plug-and-play service in its own time: what happens before that is
// lost.  Registers a window of its own for the default class and unplugs and
// replugs `device` until an arrival comes through.  False when none came.
bool ListenForDeviceChanges(vdev::Device& device);

// Milliseconds of wall time since construction.
class Stopwatch {
public:
    Stopwatch();
    double Ms() const;

private:
    LARGE_INTEGER start_;
};
