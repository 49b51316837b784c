// uXferAuto.dll of this test program's bitness as its users meet it:
// registered with the regsvr32 of that bitness, created by its ProgID, driven
// by script hosts and compiled clients started through the launcher.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/processes.h"
#include "dumptool/test_files.h"
#include "vdev_client.h"

#define UXA_CLSID "{28645625-53BD-4CAC-9BF4-A3BEEE451E03}"
#define UXA_LIBID "{E92473FE-3242-4159-B387-CBCCDEC70C30}"
#define UXA_IID "{88EFCE31-3B52-4A6E-82EB-003367722426}"
#define UXA_DIID "{2C41B669-46D3-496D-8983-A516B6F5726A}"
#define UXA_SIM_CLSID "{39791A1B-43B7-4927-8E35-5FF3D00BC393}"

// The keys the registrations of both servers write under Software\Classes.
extern const char* const kAutoKeys[9];

// The registry view and the programs of this test's bitness.
REGSAM OwnView();
std::string AutoDll();
// The test edition of uXferAuto.dll, with the seams of the registration
// tests (UXFERAUTO_TEST_FAIL_AT, UXFERAUTO_TEST_FOLDER_SDDL).
std::string HooksDll();
// regsvr32 /s of this bitness with `switches` on `dll`, run in `folder`; its
// exit code (-1: it did not run).
int Regsvr32(const std::string& switches, const std::string& dll = AutoDll(), const std::string& folder = "");
// The same for the other bitness's uXferAuto.dll on 64-bit Windows; empty
// `why` unless it can run here.
REGSAM OtherView();
bool OtherBitnessRuns(std::string& why);
int OtherRegsvr32(const std::string& switches);
// Every key of ours under HKCU and HKLM Software\Classes, in both views, removed.
void RemoveAutoRegistration();

// A value of root\Software\Classes\key in `view`; "<missing>" when absent.
std::string ClassesValue(HKEY root, const std::string& key, const char* name = nullptr, REGSAM view = OwnView());
bool ClassesKeyExists(HKEY root, const std::string& key, REGSAM view = OwnView());

// A program run through the launcher of this bitness, in `folder`.
CommandResult RunLaunched(const std::string& commandLine, const std::string& folder);
std::string Quoted(const std::string& text);
bool EndsWith(const std::string& text, const std::string& end);

VARIANT Text(const wchar_t* text);
VARIANT Number(LONG number);

struct Outcome {
    HRESULT result;
    VARTYPE type;  // of the value returned
    std::string description;
};

// A call by name as a script engine makes it; the arguments in their order
// are cleared after it.
Outcome Call(IDispatch* dev, const wchar_t* name, std::vector<VARIANT> args);

// Registered, device instance 0 reset, a scratch folder.  For the machine:
// COM activation of Wine 8 reads the machine's classes only and finds no
// class registered for the user alone (AutoRegistration checks those keys).
class AutoTest : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, Regsvr32("")); }
    static void TearDownTestSuite() { RemoveAutoRegistration(); }
    void SetUp() override
    {
        ASSERT_TRUE(device.Open(0)) << "virtual device instance 0 missing: is the test bed up?";
        ASSERT_TRUE(device.Reset());
    }
    void LoadWords(uint32_t address, const std::vector<uint8_t>& wire)
    {
        ASSERT_TRUE(device.LoadMemory(2 * address, wire.data(), wire.size()));
    }

    vdev::Device device;
    dumptest::ScratchFolder scratch;
};
