// The compiled clients (vtable with its event sink, IDispatch by name) run as
// users run them, and the object's failures as a late-bound caller sees them:
// the HRESULT, the EXCEPINFO sentence, files left as they were.
#include <objbase.h>
#include <oleauto.h>

#include <cwctype>
#include <optional>
#include <thread>

#include "automation/auto_support.h"
#include "common/com_ref.h"
#include "common/device_log.h"
#include "common/held_mutex.h"
#include "uXfer.h"
#include "usb_protocol.h"
#include "win/device_interfaces.h"
#include "win/text.h"
// The identifiers of the type library, defined here.
#include <initguid.h>
#include "uXferAuto.h"

namespace {

using dumptest::ReadAll;
using dumptest::WriteAll;

class AutoClient : public AutoTest, public testing::WithParamInterface<const char*> {};

TEST_P(AutoClient, ReadsWritesAndComparesOrSaysWhy)
{
    LoadWords(0x1000, Pattern(2 * 8192, 12));
    const std::string dump = scratch.File("dump.bin");
    const std::string program = Quoted(ProgramFolder() + GetParam() + ".exe") + " " + Quoted(dump);
    CommandResult run = RunLaunched(program + " 0x1000 8K", ProgramFolder());
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ("read 8192 bytes into " + dump + "\n" +
                  (GetParam() == std::string("vtable_client") ? "progress: 1 calls, the last 8192 of 8192\n" : "") +
                  "wrote 8192 bytes of " + dump + " and verified them\ncompare: the device holds " + dump + "\n",
              run.output);
    EXPECT_EQ(8192u, ReadAll(dump).size());

    ASSERT_TRUE(device.SetPlugged(false));
    run = RunLaunched(program, ProgramFolder());
    ASSERT_TRUE(device.SetPlugged(true));
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_EQ(0u, run.output.find(GetParam() == std::string("vtable_client") ? "read failed: " : "ReadToFile failed: "))
        << run.output;
    EXPECT_NE(std::string::npos, run.output.find("no device")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("(0x80040201")) << run.output;
}

INSTANTIATE_TEST_SUITE_P(Programs, AutoClient, testing::Values("vtable_client", "dispatch_client"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

VARIANT Missing()
{
    VARIANT v;
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
    return v;
}

VARIANT True()
{
    VARIANT v;
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = VARIANT_TRUE;
    return v;
}

// One call of the table, in a scratch folder holding dump.bin (an earlier
// dump) and image.bin (16 bytes).
struct ErrorCase {
    const char* name;
    bool (*arm)(vdev::Device& device);
    Outcome (*call)(IDispatch* dev, IDispatch* other, const std::wstring& folder);
    HRESULT expected;
    const char* fragment;  // of the description
};

void PrintTo(const ErrorCase& c, std::ostream* os)
{
    *os << c.name;
}

bool Nothing(vdev::Device&)
{
    return true;
}

Outcome ReadDump(IDispatch* dev, IDispatch*, const std::wstring& folder)
{
    return Call(dev, L"ReadToFile", {Text((folder + L"dump.bin").c_str()), Text(L"0x1000"), Text(L"4K")});
}

// ReadDump, cancelled from another thread once `ready` holds for device
// instance `instance` (or after 10 s).
Outcome ReadDumpCancelledWhen(IDispatch* dev, const std::wstring& folder, int instance,
                              bool (*ready)(vdev::Device& device))
{
    std::thread canceller([dev, instance, ready] {
        vdev::Device watch;
        for (int i = 0; i < 400 && watch.Open(instance) && !ready(watch); ++i)
            Sleep(25);
        Call(dev, L"Cancel", {});
    });
    const Outcome outcome = ReadDump(dev, nullptr, folder);
    canceller.join();
    return outcome;
}

bool ReadHeld(vdev::Device& device)
{
    VdevInfo info{};
    return device.Info(info) && info.readPending;
}

const ErrorCase kErrorCases[] = {
    {"HexAddressAndKSize", Nothing, ReadDump, S_OK, ""},
    {"NumbersOutAreLong",
     Nothing,
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         Call(dev, L"WriteFromFile", {Text((folder + L"image.bin").c_str()), Number(0)});
         Outcome out = Call(dev, L"CompareWithFile", {Text((folder + L"image.bin").c_str()), Number(0)});
         return Outcome{out.type == VT_I4 ? out.result : E_UNEXPECTED, out.type, out.description};
     },
     S_OK, ""},
    {"NotANumber", Nothing,
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         return Call(dev, L"ReadToFile", {Text((folder + L"dump.bin").c_str()), Text(L"zz"), Number(16)});
     },
     UXA_E_ARGUMENT, "'zz' is not a number"},
    // What VBScript makes of &H8000: the Integer -32768.
    {"VBScriptHexInteger", Nothing,
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         VARIANT address;
         V_VT(&address) = VT_I2;
         V_I2(&address) = -32768;
         return Call(dev, L"ReadToFile", {Text((folder + L"dump.bin").c_str()), address, Number(16)});
     },
     UXA_E_ARGUMENT,
     "address: -32768 is negative: give 0 to 0x7FFFFFFF; VBScript and VBA read &H8000 as the Integer -32768: write "
     "&H8000& (a Long) or \"0x8000\""},
    {"FolderMissing", Nothing,
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         return Call(dev, L"ReadToFile", {Text((folder + L"none\\dump.bin").c_str()), Number(0), Number(16)});
     },
     UXA_E_FILE, "can't create a file beside"},
    {"FileShorterThanSize", Nothing,
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         return Call(dev, L"WriteFromFile", {Text((folder + L"image.bin").c_str()), Number(0), Number(18)});
     },
     UXA_E_ARGUMENT, ""},
    {"CancelFromAnotherThread", [](vdev::Device& d) { return d.PendRead(1); },
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         return ReadDumpCancelledWhen(dev, folder, 0, ReadHeld);
     },
     UXA_E_CANCELLED, "cancel"},
    // The requests count 2-word units: an odd size would lose its last word.
    {"OddSize", Nothing,
     [](IDispatch* dev, IDispatch*, const std::wstring&) { return Call(dev, L"Verify", {Number(0), Number(5)}); },
     UXA_E_ARGUMENT, "size 0x5 is odd"},
    // An odd read takes the word after the range, which the last word lacks.
    {"OddReadAtTheTop", Nothing,
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         return Call(dev, L"ReadToFile", {Text((folder + L"dump.bin").c_str()), Number(0x7FFFFFFD), Number(3)});
     },
     UXA_E_ARGUMENT, "size 0x3 is odd and the range ends at the device's last word"},
    // Windows would end the name at the NUL: the dump would go to dump.bin.
    {"PathWithNul", Nothing,
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         const std::wstring path = folder + L"dump.bin" + std::wstring(1, L'\0') + L".txt";
         VARIANT name;
         V_VT(&name) = VT_BSTR;
         V_BSTR(&name) = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
         return Call(dev, L"ReadToFile", {name, Number(0), Number(16)});
     },
     UXA_E_FILE, "NUL"},
    {"PathOfAStream", Nothing,
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         return Call(dev, L"WriteFromFile", {Text((folder + L"image.bin:s").c_str()), Number(0)});
     },
     UXA_E_FILE, "names a stream"},
    {"ShortVerifyAnswer", [](vdev::Device& d) { return d.ShortRead(1, 2); },
     [](IDispatch* dev, IDispatch*, const std::wstring&) { return Call(dev, L"Verify", {Number(0), Number(16)}); },
     UXA_E_DEVICE, "the verify request to instance 0 failed"},
    {"ShortStatusAnswer", [](vdev::Device& d) { return d.ShortStatusReply(5); },
     [](IDispatch* dev, IDispatch*, const std::wstring&) { return Call(dev, L"Status", {}); },
     UXA_E_DEVICE, "was answered with 5 of its 8 bytes"},
    // The library waits inside each request: the cancel comes while the reset command runs.
    {"CancelDuringTheResetCommand", Nothing,
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         uSetDelay(1500);
         const Outcome outcome = ReadDumpCancelledWhen(
             dev, folder, 0, [](vdev::Device& d) { return !Requests(d.Log(), REQ_DEBUG).empty(); });
         uSetDelay(100);  // the library's default
         return outcome;
     },
     UXA_E_CANCELLED, "cancel"},
#ifndef _WIN64
    // The array of a raw read of the whole range (4 GiB) can't be had in a 32-bit process.
    {"LargeArrayIsNoMemory", Nothing,
     [](IDispatch* dev, IDispatch*, const std::wstring&) {
         Ref<IXferDevice> typed;
         dev->QueryInterface(IID_IXferDevice, typed.OutVoid());
         typed->put_Raw(VARIANT_TRUE);
         return Call(dev, L"Read", {Number(0), Text(L"0x7FFFFFFE")});
     },
     UXA_E_NO_MEMORY, "memory"},
#endif
    {"SecondObjectWhileTheFirstHoldsIt", Nothing,
     [](IDispatch* dev, IDispatch* other, const std::wstring&) {
         Call(dev, L"Open", {});
         return Call(other, L"Open", {});
     },
     UXA_E_NO_DEVICE, "held by another uXfer.Device object"},
};

// Two objects of the class, created as a script engine creates them.
class AutoObjects : public AutoTest {
protected:
    void SetUp() override
    {
        AutoTest::SetUp();
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        CLSID cls;
        ASSERT_EQ(S_OK, CLSIDFromProgID(L"uXfer.Device", &cls));
        for (Ref<IDispatch>* object : {&dev, &other})
            ASSERT_EQ(S_OK, CoCreateInstance(cls, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object->OutVoid()));
    }
    void TearDown() override
    {
        dev.Reset();
        other.Reset();
        CoUninitialize();
        device.SetMemorySize(4 << 20);
    }

    Ref<IDispatch> dev, other;
};

class AutoErrors : public AutoObjects, public testing::WithParamInterface<ErrorCase> {};

TEST_P(AutoErrors, CallGivesItsResultAndLeavesTheFilesAsTheyWere)
{
    const std::vector<uint8_t> old = {0xAB, 0xCD}, image = Pattern(16, 13);
    ASSERT_TRUE(WriteAll(scratch.File("dump.bin"), old));
    ASSERT_TRUE(WriteAll(scratch.File("image.bin"), image));
    ASSERT_TRUE(GetParam().arm(device));
    const std::string folder = scratch.File("");
    const Outcome outcome = GetParam().call(dev.Get(), other.Get(), win::Widen(folder, CP_ACP));
    device.SetPlugged(true);
    EXPECT_EQ(GetParam().expected, outcome.result) << std::hex << outcome.result << " " << outcome.description;
    EXPECT_NE(std::string::npos, outcome.description.find(GetParam().fragment)) << outcome.description;
    if (FAILED(GetParam().expected)) {
        EXPECT_EQ(old, ReadAll(scratch.File("dump.bin")));
    }
    // An argument refused reaches no device.
    if (GetParam().expected == UXA_E_ARGUMENT) {
        EXPECT_TRUE(VendorCalls(device.Log()).empty() && PipeTransfers(device.Log()).empty()) << Dump(device.Log());
    }
    EXPECT_EQ(image, ReadAll(scratch.File("image.bin")));
    EXPECT_EQ((std::vector<std::string>{"dump.bin", "image.bin"}), scratch.Names()) << "a temporary file left";
}

INSTANTIATE_TEST_SUITE_P(Calls, AutoErrors, testing::ValuesIn(kErrorCases),
                         [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

// The same fault given to uxfer and to the object: the same sentence, the exit
// code that goes with the object's HRESULT, and the files as they were.
struct ParityCase {
    const char* name;
    bool (*arm)(vdev::Device& device);
    const char* uxfer;  // the command line after uxfer; the files are in its folder
    Outcome (*call)(IDispatch* dev, IDispatch* other, const std::wstring& folder);
    DWORD exitCode;
    HRESULT expected;
    bool holdDump = false;  // open without sharing, as another program may hold it
    bool holdDevice = false;  // its lock taken, as another program's operation takes it
};

// The lock of instance 0 as the reference names it.
std::wstring DeviceLockName()
{
    std::wstring path = win::Widen(win::DeviceInterfacePath(win::DeviceInterfaces(vdev::kDefaultClass), 0), CP_ACP);
    for (wchar_t& c : path)
        c = c == L'\\' ? L'/' : static_cast<wchar_t>(towlower(c));
    return L"Global\\uXferDevice:" + path;
}


void PrintTo(const ParityCase& c, std::ostream* os)
{
    *os << c.name;
}

Outcome WriteImage(IDispatch* dev, IDispatch*, const std::wstring& folder)
{
    return Call(dev, L"WriteFromFile", {Text((folder + L"image.bin").c_str()), Number(0)});
}

const ParityCase kParityCases[] = {
    {"NoDevice", [](vdev::Device& d) { return d.SetPlugged(false); }, "read dump.bin --addr 0x1000 --size 4K",
     ReadDump, 2, UXA_E_NO_DEVICE},
    {"HeldReadAndATimeout", [](vdev::Device& d) { return d.PendRead(1); },
     "read dump.bin --addr 0x1000 --size 4K --timeout 1",
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         Ref<IXferDevice> typed;
         dev->QueryInterface(IID_IXferDevice, typed.OutVoid());
         typed->put_Timeout(1);
         return ReadDump(dev, nullptr, folder);
     },
     3, UXA_E_TIMEOUT},
    {"ShortRead", [](vdev::Device& d) { return d.ShortRead(1, 100); }, "read dump.bin --addr 0x1000 --size 4K",
     ReadDump, 3, UXA_E_DEVICE},
    // The first write is the reset command's.
    {"FailingWrite", [](vdev::Device& d) { return d.FailWrite(2); }, "write image.bin", WriteImage, 3, UXA_E_DEVICE},
    // Writes past the end of memory are lost: the read-back differs.
    {"MismatchAfterAVerifiedWrite", [](vdev::Device& d) { return d.SetMemorySize(16); }, "write image.bin --verify",
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         return Call(dev, L"WriteFromFile",
                     {Text((folder + L"image.bin").c_str()), Number(0), Missing(), Missing(), True()});
     },
     5, UXA_E_MISMATCH},
    {"OutputThatCantBeReplaced", Nothing, "read dump.bin --addr 0x1000 --size 4K", ReadDump, 4, UXA_E_FILE, true},
    {"DeviceInUseByAnotherProgram", Nothing, "read dump.bin --addr 0x1000 --size 4K --timeout 1",
     [](IDispatch* dev, IDispatch*, const std::wstring& folder) {
         Ref<IXferDevice> typed;
         dev->QueryInterface(IID_IXferDevice, typed.OutVoid());
         typed->put_Timeout(1);
         return ReadDump(dev, nullptr, folder);
     },
     7, UXA_E_BUSY, false, true},
};

class FrontEndParity : public AutoObjects, public testing::WithParamInterface<ParityCase> {};

TEST_P(FrontEndParity, SameFaultSameSentence)
{
    const ParityCase& c = GetParam();
    const std::vector<uint8_t> old = {0xAB, 0xCD}, image = Pattern(16, 13);
    ASSERT_TRUE(WriteAll(scratch.File("dump.bin"), old));
    ASSERT_TRUE(WriteAll(scratch.File("image.bin"), image));
    win::unique_file held;
    if (c.holdDump)
        held.reset(CreateFileW(win::Widen(scratch.File("dump.bin"), CP_ACP).c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr));
    ASSERT_EQ(c.holdDump, held.valid());

    std::optional<MutexHeldElsewhere> lock;
    if (c.holdDevice)
        lock.emplace(DeviceLockName());
    ASSERT_TRUE(c.arm(device));
    const CommandResult run = RunLaunched(Quoted(ProgramFolder() + "uxfer.exe") + " " + c.uxfer, scratch.File(""));
    ASSERT_TRUE(device.Reset());
    ASSERT_TRUE(c.arm(device));
    const Outcome outcome = c.call(dev.Get(), other.Get(), win::Widen(scratch.File(""), CP_ACP));
    device.SetPlugged(true);
    held.reset();
    lock.reset();

    EXPECT_EQ(c.exitCode, run.exitCode) << run.output;
    EXPECT_EQ(c.expected, outcome.result) << std::hex << outcome.result << " " << outcome.description;
    // uxfer names the files as given, relative to its folder; the object got full paths.
    std::string sentence = outcome.description;
    for (const char* name : {"dump.bin", "image.bin"}) {
        const std::string full = scratch.File(name);
        for (size_t at; (at = sentence.find(full)) != std::string::npos;)
            sentence.replace(at, full.size(), name);
    }
    EXPECT_FALSE(sentence.empty());
    EXPECT_NE(std::string::npos, run.output.find("uxfer: " + sentence + "\n")) << run.output << "\n" << sentence;
    EXPECT_EQ(old, ReadAll(scratch.File("dump.bin")));
    EXPECT_EQ(image, ReadAll(scratch.File("image.bin")));
    EXPECT_EQ((std::vector<std::string>{"dump.bin", "image.bin"}), scratch.Names()) << "a temporary file left";
}

INSTANTIATE_TEST_SUITE_P(Faults, FrontEndParity, testing::ValuesIn(kParityCases),
                         [](const testing::TestParamInfo<ParityCase>& info) { return std::string(info.param.name); });

// Two devices, the first of the default class and the second of loader 272's:
// each call of the table must reach the device of the class opened.
struct ClassCase {
    const char* name;
    bool holdOlderRead;  // the older device holds its first read
    Outcome (*call)(IDispatch* dev, const std::wstring& folder);
    HRESULT expected;
    uint8_t request;     // the vendor request that must reach only the one device
    bool toOlderClass;   // it reaches the device of loader 272's class
};

void PrintTo(const ClassCase& c, std::ostream* os)
{
    *os << c.name;
}

Outcome OpenOlder(IDispatch* dev)
{
    return Call(dev, L"Open", {Number(0), Number(272)});
}

// The virtual device's number of the older class's device.
int olderInstance = -1;

// Cancels once the older device holds the read.
Outcome CancelWhenHeld(IDispatch* dev, const std::wstring& folder)
{
    return ReadDumpCancelledWhen(dev, folder, olderInstance, ReadHeld);
}

const ClassCase kClassCases[] = {
    {"OpenWithoutVersionAfterOlderGoesToTheDefaultClass", false,
     [](IDispatch* dev, const std::wstring&) {
         OpenOlder(dev);
         Call(dev, L"Close", {});
         Call(dev, L"Open", {Number(0)});
         return Call(dev, L"Status", {});
     },
     S_OK, REQ_STATUS, false},
    {"FailedOpenKeepsTheClassOpenedLast", false,
     [](IDispatch* dev, const std::wstring&) {
         Call(dev, L"Open", {Number(0)});
         Call(dev, L"Open", {Number(3), Number(272)});
         return Call(dev, L"Status", {});
     },
     S_OK, REQ_STATUS, false},
    {"ResetGoesToTheClassOpened", false,
     [](IDispatch* dev, const std::wstring&) {
         OpenOlder(dev);
         return Call(dev, L"Reset", {});
     },
     S_OK, REQ_RESET, true},
    {"TimeoutResetsTheClassOpened", true,
     [](IDispatch* dev, const std::wstring& folder) {
         OpenOlder(dev);
         Ref<IXferDevice> typed;
         dev->QueryInterface(IID_IXferDevice, typed.OutVoid());
         typed->put_Timeout(1);
         return ReadDump(dev, nullptr, folder);
     },
     UXA_E_TIMEOUT, REQ_RESET, true},
    {"CancelResetsTheClassOpened", true,
     [](IDispatch* dev, const std::wstring& folder) {
         OpenOlder(dev);
         return CancelWhenHeld(dev, folder);
     },
     UXA_E_CANCELLED, REQ_RESET, true},
};

class AutoClasses : public AutoTest, public testing::WithParamInterface<ClassCase> {
protected:
    static void SetUpTestSuite()
    {
        AutoTest::SetUpTestSuite();
        olderInstance = vdev::AddInstance();
        vdev::Device older;
        ASSERT_TRUE(olderInstance > 0 && older.Open(olderInstance) && older.SetClass(vdev::kClassV2));
        ASSERT_TRUE(vdev::WaitInterfaces(vdev::kClassV2, 1, 10000));
        ASSERT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 1, 10000));
    }
    static void TearDownTestSuite()
    {
        if (olderInstance > 0) {
            EXPECT_TRUE(vdev::RemoveInstance(olderInstance));
        }
        EXPECT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 1, 10000));
        AutoTest::TearDownTestSuite();
    }
    void SetUp() override
    {
        AutoTest::SetUp();
        ASSERT_TRUE(older.Open(olderInstance) && older.Reset());
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_XferDevice, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dev.OutVoid()));
    }
    void TearDown() override
    {
        dev.Reset();
        CoUninitialize();
    }

    vdev::Device older;
    Ref<IDispatch> dev;
};

TEST_P(AutoClasses, RequestReachesTheDeviceOfTheClassOpened)
{
    const ClassCase& c = GetParam();
    if (c.holdOlderRead) {
        ASSERT_TRUE(older.PendRead(1));
    }
    // A request sent to the wrong device leaves the read held: released here, so that the test ends.
    win::unique_handle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bool released = false;
    std::thread watchdog([&] {
        if (WaitForSingleObject(done.get(), 10000) == WAIT_TIMEOUT) {
            released = true;
            vdev::Device held;
            held.Open(olderInstance) && held.ReleaseRead();
        }
    });
    const Outcome outcome = c.call(dev.Get(), win::Widen(scratch.File(""), CP_ACP));
    SetEvent(done.get());
    watchdog.join();
    EXPECT_FALSE(released) << "the call waited until the held read was released";
    EXPECT_EQ(c.expected, outcome.result) << std::hex << outcome.result << " " << outcome.description;
    const std::vector<VdevLogRecord> olderLog = older.Log(), defaultLog = device.Log();
    EXPECT_EQ(c.toOlderClass, !Requests(olderLog, c.request).empty()) << Dump(olderLog);
    EXPECT_EQ(!c.toOlderClass, !Requests(defaultLog, c.request).empty()) << Dump(defaultLog);
}

INSTANTIATE_TEST_SUITE_P(Calls, AutoClasses, testing::ValuesIn(kClassCases),
                         [](const testing::TestParamInfo<ClassCase>& info) { return std::string(info.param.name); });

}  // namespace
