// The front ends against uXferSim.dll on a Windows without the virtual
// device: uxfer.exe and Vantor.exe copied beside uXferSim.dll under the name
// uXfer.dll, as any client takes the simulated library.  Each test has a
// simulated-device folder of its own (UXFERSIM_HOME), which the programs it
// starts inherit.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/processes.h"
#include "dumptool/test_files.h"
#include "dumptool/vantor_session.h"

using namespace dumptest;

namespace {

constexpr DWORD kWaitMs = 120000;

// uxfer.exe and Vantor.exe of a build's program folder `bin` (this tree's by
// default) in a folder of their own with the simulated library as uXfer.dll,
// and as uXferSim.dll for --simulate; made once a folder.  Empty when they can't be copied.
std::string Programs(const std::string& bin = ProgramFolder())
{
    static std::map<std::string, std::unique_ptr<ScratchFolder>> made;
    std::unique_ptr<ScratchFolder>& folder = made[bin];
    if (!folder) {
        folder.reset(new ScratchFolder);
        if (!CopyFileA((bin + "uxfer.exe").c_str(), folder->File("uxfer.exe").c_str(), FALSE) ||
            !CopyFileA((bin + "Vantor.exe").c_str(), folder->File("Vantor.exe").c_str(), FALSE) ||
            !CopyFileA((bin + "uXferSim.dll").c_str(), folder->File("uXfer.dll").c_str(), FALSE) ||
            !CopyFileA((bin + "uXferSim.dll").c_str(), folder->File("uXferSim.dll").c_str(), FALSE))
            return std::string();
    }
    return folder->Path();
}

// The program folder of the other bitness's tree (bin\x64 beside bin).
std::string OtherBitness()
{
    return ProgramFolder() + (sizeof(void*) == 4 ? "x64\\" : "..\\");
}

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

// Reproducible bytes, different for each seed.
std::vector<uint8_t> Bytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

// Device memory of a write in the default format: each file byte in the first byte of a word, 0xFF in the second.
std::vector<uint8_t> Wire(const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> wire(2 * bytes.size(), 0xFF);
    for (size_t i = 0; i < bytes.size(); ++i)
        wire[2 * i] = bytes[i];
    return wire;
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class SimFrontEndTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(Programs().empty()) << "can't copy uxfer.exe, Vantor.exe and uXferSim.dll";
        ASSERT_TRUE(SetEnvironmentVariableA("UXFERSIM_HOME", home.Path().c_str()));
    }
    void TearDown() override { SetEnvironmentVariableA("UXFERSIM_HOME", nullptr); }

    bool Start(ChildProcess& child, const std::string& arguments, const std::string& programs = Programs())
    {
        ChildOptions options;
        options.folder = std::wstring(scratch.Path().begin(), scratch.Path().end());
        const std::string line = Quoted(programs + "\\uxfer.exe") + " " + arguments;
        return child.Start(std::wstring(line.begin(), line.end()), options);
    }
    ChildResult Uxfer(const std::string& arguments, const std::string& programs = Programs())
    {
        ChildProcess child;
        if (!Start(child, arguments, programs))
            return {};
        return child.Wait(kWaitMs);
    }
    // A sim action that must succeed.
    void Sim(const std::string& arguments)
    {
        const ChildResult r = Uxfer("sim " + arguments);
        ASSERT_EQ(0u, r.exitCode) << "sim " << arguments << ": " << r.err;
    }
    // `bytes` of device memory from a byte offset, through `uxfer sim save`.
    std::vector<uint8_t> Memory(uint32_t offset, uint32_t bytes)
    {
        const ChildResult r = Uxfer("sim save " + Quoted(File("memory.bin")) + " " + std::to_string(offset) + " " +
                                    std::to_string(bytes));
        EXPECT_EQ(0u, r.exitCode) << r.err;
        return ReadAll(File("memory.bin"));
    }
    // Until `uxfer sim info --json` shows a read held.
    bool WaitHeldRead()
    {
        for (int i = 0; i < 200; ++i) {
            if (Has(Uxfer("sim info --json").out, "\"read_held\":true"))
                return true;
            Sleep(50);
        }
        return false;
    }
    std::string File(const std::string& name) const { return scratch.File(name); }
    void Devices(const std::string& text)
    {
        ASSERT_TRUE(WriteAll(home.File("devices.ini"), std::vector<uint8_t>(text.begin(), text.end())));
    }

    ScratchFolder home;
    ScratchFolder scratch;
};

// One process writes, another reads the range back; device memory holds what the format put on the wire.
TEST_F(SimFrontEndTest, WriteInOneProcessReadsBackInAnother)
{
    const struct {
        const char* format;
        size_t fileBytes;
        bool raw;
    } cases[] = {{"", 3000, false}, {" --raw", 200 * 1024, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const std::vector<uint8_t> data = Bytes(c.fileBytes, static_cast<uint32_t>(c.fileBytes));
        ASSERT_TRUE(WriteAll(File("in.bin"), data));
        const ChildResult write = Uxfer("write " + Quoted(File("in.bin")) + " --addr 0x100" + c.format);
        ASSERT_EQ(0u, write.exitCode) << write.err;
        // --size counts words: one file byte each, or two with --raw.
        const ChildResult read = Uxfer("read " + Quoted(File("out.bin")) + " --addr 0x100 --size " +
                                       std::to_string(c.fileBytes / (c.raw ? 2 : 1)) + c.format);
        ASSERT_EQ(0u, read.exitCode) << read.err;
        EXPECT_EQ(data, ReadAll(File("out.bin")));
        const std::vector<uint8_t> wire = c.raw ? data : Wire(data);
        EXPECT_EQ(wire, Memory(0x200, static_cast<uint32_t>(wire.size())));
    }
}

// 32-bit and 64-bit programs share the simulated devices: one writes, the other reads, and back.
TEST_F(SimFrontEndTest, BothBitnessesShareTheDevices)
{
    if (!Why32BitProgramsDontRun().empty())
        GTEST_SKIP() << Why32BitProgramsDontRun();
    const std::string other = Programs(OtherBitness());
    if (other.empty())
        GTEST_SKIP() << "the other bitness's uxfer.exe, Vantor.exe and uXferSim.dll are not built";
    const std::vector<uint8_t> data = Bytes(100000, 5);
    ASSERT_TRUE(WriteAll(File("in.bin"), data));
    const struct {
        const char* name;
        std::string writer, reader;
    } cases[] = {{"this writes, the other reads", Programs(), other}, {"the other writes, this reads", other, Programs()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ChildResult write = Uxfer("write " + Quoted(File("in.bin")) + " --raw --addr 0x10", c.writer);
        ASSERT_EQ(0u, write.exitCode) << write.err;
        const ChildResult read = Uxfer("read " + Quoted(File("out.bin")) + " --raw --addr 0x10 --size 50000", c.reader);
        ASSERT_EQ(0u, read.exitCode) << read.err;
        EXPECT_EQ(data, ReadAll(File("out.bin")));
        Sim("reset");
    }
}

// A file that doesn't fit in device memory is refused whole: nothing of it is loaded.
TEST_F(SimFrontEndTest, LoadRefusesAFileThatDoesntFit)
{
    ASSERT_TRUE(WriteAll(File("big.bin"), std::vector<uint8_t>(2 << 20, 0x5A)));
    const ChildResult load = Uxfer("sim load " + Quoted(File("big.bin")) + " 0x300000");
    EXPECT_EQ(1u, load.exitCode) << load.err;
    EXPECT_TRUE(Has(load.err, "(2097152 bytes) doesn't fit at 3145728 in simulated device 0's 4194304 bytes"))
        << load.err;
    EXPECT_EQ(std::vector<uint8_t>(16, 0), Memory(0x300000, 16));
}

// A folder whose name is longer than MAX_PATH is still the folder named, not the user's default one.
TEST_F(SimFrontEndTest, ALongFolderNameIsTheFolderNamed)
{
    const std::string folder = home.File(std::string(240, 'f'));  // past MAX_PATH with the folder it is in
    ASSERT_TRUE(SetEnvironmentVariableA("UXFERSIM_HOME", folder.c_str()));
    const ChildResult info = Uxfer("sim info");
    EXPECT_EQ(0u, info.exitCode) << info.err;
    EXPECT_EQ("folder " + folder + "\n", info.out.substr(0, info.out.find('\n') + 1));
    for (const char* name : {"state.bin", "device0.img"})
        DeleteFileA((folder + "\\" + name).c_str());
    RemoveDirectoryA(folder.c_str());
}

// Knobs set by name give the sentence and exit code of the fault they make.
TEST_F(SimFrontEndTest, KnobsByNameGiveTheirFaults)
{
    const struct {
        const char* knob;     // sim arguments, or "" for none
        const char* command;  // uxfer arguments; FILE is out.bin
        DWORD exitCode;
        const char* sentence;
    } cases[] = {
        {"set fail_read 2", "read FILE --size 200K", 3, "RESULT_IO_FAILED (0xC0000005)"},
        {"set fail_write 2", "write FILE --size 200K --pad", 3, "RESULT_IO_FAILED (0xC0000005)"},
        {"set short_read 1 100", "read FILE --size 1000", 3,
         "the read of 2000 wire bytes from instance 0 moved only 100 bytes; try 'uxfer status'"},
        {"set pend_read 1", "read FILE --size 1000 --timeout 2", 3, "no answer from the device in 2 s"},
        {"set error_at_poll 1", "status", 0, "error: yes"},
        {"set plugged 0", "read FILE --size 1000", 2, "no device at instance 0 of interface class {"},
        {"unplug", "status", 2, "(0 present): RESULT_OPEN_FAILED (0xC0000004); run 'uxfer list'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.knob) + " / " + c.command);
        Sim("reset");
        ASSERT_TRUE(WriteAll(File("out.bin"), {1, 2, 3}));
        Sim(c.knob);
        std::string command = c.command;
        if (command.find("FILE") != std::string::npos)
            command.replace(command.find("FILE"), 4, Quoted(File("out.bin")));
        const ChildResult r = Uxfer(command);
        EXPECT_EQ(c.exitCode, r.exitCode) << r.err;
        EXPECT_TRUE(Has(r.exitCode ? r.err : r.out, c.sentence)) << r.out << r.err;
        if (c.exitCode && std::string(c.command).rfind("read", 0) == 0) {
            EXPECT_EQ(std::vector<uint8_t>({1, 2, 3}), ReadAll(File("out.bin"))) << "a failed read replaced its file";
        }
    }
}

// A read the device holds ends when another process resets the device: a failed transfer, the file untouched.
TEST_F(SimFrontEndTest, HeldReadEndsWithAnotherProcessesReset)
{
    Sim("set pend_read 1");
    ChildProcess read;
    ASSERT_TRUE(Start(read, "read " + Quoted(File("held.bin")) + " --size 1000"));
    ASSERT_TRUE(WaitHeldRead());
    const ChildResult reset = Uxfer("reset");
    EXPECT_EQ(0u, reset.exitCode) << reset.err;
    const ChildResult held = read.Wait(kWaitMs);
    EXPECT_EQ(3u, held.exitCode) << held.err;
    EXPECT_TRUE(Has(held.err, "RESULT_IO_FAILED")) << held.err;
    EXPECT_FALSE(Exists(File("held.bin")));
    EXPECT_FALSE(Has(Uxfer("sim info --json").out, "\"read_held\":true"));
}

// Two processes at once.  uxfer takes turns only in choosing an instance: two
// transfers to one device at once mix on its wire, with the driver as with
// the simulated devices.  So two writes to two devices at the same time, both
// intact; and a status while a write runs on the same device.
TEST_F(SimFrontEndTest, TwoProcessesAtOnce)
{
    const std::string devices = "[device]\r\n[device]\r\n";
    ASSERT_TRUE(WriteAll(home.File("devices.ini"), std::vector<uint8_t>(devices.begin(), devices.end())));
    const uint32_t size = 300 * 1024;
    const std::vector<uint8_t> a = Bytes(size, 1), b = Bytes(size, 2);
    ASSERT_TRUE(WriteAll(File("a.bin"), a) && WriteAll(File("b.bin"), b));
    ChildProcess first, second;
    ASSERT_TRUE(Start(first, "write " + Quoted(File("a.bin")) + " --raw --addr 0x100 --instance 0"));
    ASSERT_TRUE(Start(second, "write " + Quoted(File("b.bin")) + " --raw --addr 0x100 --instance 1"));
    const ChildResult ra = first.Wait(kWaitMs), rb = second.Wait(kWaitMs);
    EXPECT_EQ(0u, ra.exitCode) << ra.err;
    EXPECT_EQ(0u, rb.exitCode) << rb.err;
    for (const auto& device : {std::make_pair("0", &a), std::make_pair("1", &b)}) {
        const ChildResult read = Uxfer("read " + Quoted(File("back.bin")) + " --raw --addr 0x100 --size " +
                                       std::to_string(size / 2) + " --instance " + device.first);
        EXPECT_EQ(0u, read.exitCode) << read.err;
        EXPECT_TRUE(ReadAll(File("back.bin")) == *device.second) << "device " << device.first << " differs";
    }

    ChildProcess write;
    ASSERT_TRUE(Start(write, "write " + Quoted(File("b.bin")) + " --raw --addr 0x40000"));
    const ChildResult status = Uxfer("status");
    EXPECT_EQ(0u, status.exitCode) << status.err;
    EXPECT_TRUE(Has(status.out, "status: ")) << status.out;
    const ChildResult wrote = write.Wait(kWaitMs);
    EXPECT_EQ(0u, wrote.exitCode) << wrote.err;
    EXPECT_EQ(b, Memory(0x80000, size));
}

// The request log after a read: the opens, the read request with its word address and unit count, the data.
TEST_F(SimFrontEndTest, LogShowsTheRequestsOfARead)
{
    const ChildResult read = Uxfer("read " + Quoted(File("out.bin")) + " --addr 0x1234 --size 150000");
    ASSERT_EQ(0u, read.exitCode) << read.err;
    const ChildResult log = Uxfer("sim log --json");
    ASSERT_EQ(0u, log.exitCode) << log.err;
    EXPECT_TRUE(Has(log.out, " OPEN control ")) << log.out;
    EXPECT_TRUE(Has(log.out, " OPEN PIPE0 ")) << log.out;
    EXPECT_TRUE(Has(log.out, " CONTROL control a=")) << log.out;
    // The default format: two bytes a word on the wire, a unit of 4 bytes.
    EXPECT_TRUE(Has(log.out, "ok READ(0xa0) value=0x1 index=0 word_addr=0x1234 units=75000")) << log.out;
    uint64_t moved = 0;
    for (size_t at = log.out.find(" READ PIPE0 "); at != std::string::npos; at = log.out.find(" READ PIPE0 ", at + 1)) {
        const size_t m = log.out.find(" moved=", at);
        ASSERT_NE(std::string::npos, m);
        moved += std::stoul(log.out.substr(m + 7));
    }
    EXPECT_EQ(300000u, moved) << log.out;
}

// Vantor.exe with the simulated library: Read into its file, Write from its file, as DumpSet.ini says.
TEST_F(SimFrontEndTest, VantorReadsAndWrites)
{
    const std::vector<uint8_t> data = Bytes(4096, 7);
    ASSERT_TRUE(WriteAll(File("forwrite.bin"), data));
    // Write sends the file forRead names; Read dumps into forWrite.
    const std::string settings = "[Dump]\r\nforRead=" + File("forwrite.bin") + "\r\nforWrite=" + File("forread.bin") +
                                 "\r\nSize=4096\r\nAddr=64\r\nreadMode=0\r\nwriteMode=0\r\n";
    ASSERT_TRUE(WriteAll(Programs() + "\\DumpSet.ini", std::vector<uint8_t>(settings.begin(), settings.end())));
    VantorSession vantor;
    ASSERT_TRUE(vantor.Start(Programs(), false));
    vantor.Click(1001);
    EXPECT_EQ(L"Write file success!", vantor.TakeMessage());
    EXPECT_EQ(Wire(data), Memory(128, 2 * 4096));
    vantor.Click(1000);
    EXPECT_EQ(L"Read file success!", vantor.TakeMessage());
    EXPECT_EQ(data, ReadAll(File("forread.bin")));
    EXPECT_EQ(0, vantor.Close());
    DeleteFileA((Programs() + "\\DumpSet.ini").c_str());
}

// uxfer watch prints the removal and the arrival another process makes.
TEST_F(SimFrontEndTest, WatchSeesUnplugAndPlug)
{
    Sim("info");  // the store made before the watch looks
    ChildProcess watch;
    ASSERT_TRUE(Start(watch, "watch --timeout 4"));
    // It says so once registered.
    for (int i = 0; i < 100 && !Has(watch.ErrorsSoFar(), "watching interface class"); ++i)
        Sleep(20);
    // Back at once: the watch sees both even when they fall between two of its looks.
    Sim("unplug");
    Sim("plug");
    const ChildResult watched = watch.Wait(kWaitMs);
    EXPECT_EQ(0u, watched.exitCode) << watched.err;
    // Paths as Windows hands them to a window: in lower case.
    const size_t removal = watched.out.find("  removal  \\\\?\\uxfersim#device#0000#{");
    const size_t arrival = watched.out.find("  arrival  \\\\?\\uxfersim#device#0000#{");
    EXPECT_NE(std::string::npos, removal) << watched.out;
    EXPECT_NE(std::string::npos, arrival) << watched.out;
    EXPECT_LT(removal, arrival) << watched.out;
}

}  // namespace

namespace {

// Two devices of 256 KiB and 1.5 MiB, as in the guide: the second of the
// older loader's class, unplugged.
const char kTwoClasses[] = "[device]\r\nmemory_bytes = 0x40000\r\n[device]\r\ninterface = 272\r\n"
                           "memory_bytes = 0x180000\r\nplugged = 0\r\n";

// Every command says what is wrong with devices.ini, by its line, when it finds no device for it.
TEST_F(SimFrontEndTest, BadSettingsAreNamedByTheirLine)
{
    const struct {
        const char* devices;
        const char* command;
        DWORD exitCode;
        const char* sentence;  // in what the command prints
    } cases[] = {
        {"[device]\r\nfail_raed = 1\r\n", "status --simulate", 2,
         "run 'uxfer list --simulate'; no simulated device is there: devices.ini line 2: no setting is named "
         "fail_raed ('uxfer sim help' lists them)"},
        {"[device]\r\nfail_raed = 1\r\n", "list --simulate", 2,
         "is present; no simulated device is there: devices.ini line 2: no setting is named fail_raed"},
        {"[device]\r\nfail_raed = 1\r\n", "sim plug", 2, "no simulated device: devices.ini line 2: "},
        {"[device]\r\nfail_raed = 1\r\n", "sim help", 0, "\n  fail_read           k\n"},
        {"#\r\n[device]\r\nmemory_bytes = 131073\r\n", "read FILE --size 16 --simulate", 2,
         "no simulated device is there: devices.ini line 3: device 0 refuses memory_bytes = 131073 (it takes an "
         "even size from 2 to 0xFFFFFFFE)"},
        {"#\r\n[device]\r\nmemory_bytes = 131073\r\n", "sim info", 0,
         "\ndevices.ini line 3: device 0 refuses memory_bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.devices) + " / " + c.command);
        Devices(c.devices);
        std::string command = c.command;
        if (command.find("FILE") != std::string::npos)
            command.replace(command.find("FILE"), 4, Quoted(File("out.bin")));
        const ChildResult r = Uxfer(command);
        EXPECT_EQ(c.exitCode, r.exitCode) << r.err;
        EXPECT_TRUE(Has(r.out + r.err, c.sentence)) << r.out << r.err;
        EXPECT_FALSE(Has(r.out + r.err, "devices.ini: devices.ini")) << r.out << r.err;
    }
}

// --instance counts the devices of the class --loader-version selects, for sim as for every other command;
// what sim info lists as set is what still acts.
TEST_F(SimFrontEndTest, OneNumberingAndKnobsInForce)
{
    Devices(kTwoClasses);
    const struct {
        const char* sim;      // a sim action that must succeed, or "" for none
        const char* command;  // then this one
        DWORD exitCode;
        const char* sentence;      // in what it prints
        const char* notSentence;   // not in what it prints
    } cases[] = {
        {"", "sim info", 0, "--instance 0 --loader-version 272: unplugged", "plugged="},
        {"plug --instance 0 --loader-version 272", "sim info", 0, "--loader-version 272: plugged", "plugged="},
        {"", "status --simulate --instance 0 --loader-version 272", 0, "status: ", "no device"},
        {"", "sim plug --instance 1", 2,
         "no simulated device at instance 1 of interface class {", "plugged"},
        {"set fail_read 1", "sim info", 0, "fail_read=1", "unplugged"},
        {"", "read FILE --size 16 --simulate", 3, "RESULT_IO_FAILED", "moved only"},
        {"", "sim info", 0, "knobs: memory_bytes=262144\n", "fail_read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.sim) + " / " + c.command);
        if (*c.sim)
            Sim(c.sim);
        std::string command = c.command;
        if (command.find("FILE") != std::string::npos)
            command.replace(command.find("FILE"), 4, Quoted(File("out.bin")));
        const ChildResult r = Uxfer(command);
        EXPECT_EQ(c.exitCode, r.exitCode) << r.err;
        EXPECT_TRUE(Has(r.out + r.err, c.sentence)) << r.out << r.err;
        EXPECT_FALSE(Has(r.out + r.err, c.notSentence)) << r.out << r.err;
    }
}

// Advice repeats the options that chose the device: followed as written, it reaches the same one.
TEST_F(SimFrontEndTest, AdviceRepeatsTheDevicesOptions)
{
    Devices("[device]\r\n[device]\r\n[device]\r\ninterface = 272\r\n");
    const struct {
        const char* knob;     // sim arguments
        const char* command;  // FILE is out.bin
        DWORD exitCode;
        const char* sentence;
    } cases[] = {
        {"set fail_read 1 --instance 1", "read FILE --size 16 --simulate --instance 1", 3,
         "; try 'uxfer status --simulate --instance 1' and 'uxfer reset --simulate --instance 1'"},
        {"set short_read 1 2 --instance 0 --loader-version 272",
         "read FILE --size 16 --simulate --loader-version 272", 3,
         "; try 'uxfer status --simulate --loader-version 272'"},
        {"set fail_control 1 --instance 1", "status --simulate --instance 1", 3,
         "; try 'uxfer reset --simulate --instance 1'"},
        {"info", "status --simulate --instance 1 --loader-version 272", 2,
         "(1 present): RESULT_OPEN_FAILED (0xC0000004); run 'uxfer list --simulate --loader-version 272'"},
        {"info", "reset --simulate --instance 2", 2, "; run 'uxfer list --simulate'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.knob) + " / " + c.command);
        Sim("reset");
        Sim(c.knob);
        std::string command = c.command;
        if (command.find("FILE") != std::string::npos)
            command.replace(command.find("FILE"), 4, Quoted(File("out.bin")));
        const ChildResult r = Uxfer(command);
        EXPECT_EQ(c.exitCode, r.exitCode) << r.err;
        EXPECT_TRUE(Has(r.err, c.sentence)) << r.err;
    }
}

// Each memory image holds as many bytes as the device's memory, a last page cut short included; an image
// rounded up to whole MiB, as earlier builds made them, still serves, and the next reset cuts it.
TEST_F(SimFrontEndTest, ImageIsTheMemorysSize)
{
    Devices(kTwoClasses);
    Sim("plug --instance 0 --loader-version 272");
    const std::vector<uint8_t> data = Bytes(4096, 9);
    ASSERT_TRUE(WriteAll(File("in.bin"), data));
    const struct {
        const char* options;  // which device
        const char* image;
        uint32_t bytes;       // of memory
    } cases[] = {{"", "device0.img", 0x40000}, {" --loader-version 272", "device1.img", 0x180000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        // The last words of memory, in its last page.
        const std::string at = " --raw --addr " + std::to_string(c.bytes / 2 - data.size() / 2) + c.options;
        const ChildResult write = Uxfer("write " + Quoted(File("in.bin")) + at);
        ASSERT_EQ(0u, write.exitCode) << write.err;
        EXPECT_EQ(c.bytes, ReadAll(home.File(c.image)).size());
        HANDLE image = CreateFileA(home.File(c.image).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, image);
        LARGE_INTEGER rounded;
        rounded.QuadPart = (c.bytes + 0xFFFFF) & ~0xFFFFF;
        EXPECT_TRUE(SetFilePointerEx(image, rounded, nullptr, FILE_BEGIN) && SetEndOfFile(image));
        CloseHandle(image);
        const ChildResult read = Uxfer("read " + Quoted(File("out.bin")) + " --size 2048" + at);
        ASSERT_EQ(0u, read.exitCode) << read.err;
        EXPECT_EQ(data, ReadAll(File("out.bin")));
    }
    Sim("reset");
    EXPECT_EQ(0x40000u, ReadAll(home.File("device0.img")).size());
}

}  // namespace
