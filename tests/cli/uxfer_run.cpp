#include "cli/uxfer_run.h"

#include <algorithm>

#include "win/text.h"
#include "uXfer.h"
#include "vdev_shim.h"

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

bool UxferProcess::Start(const std::string& arguments, const std::string& input, DWORD flags,
                         const std::string& folder)
{
    ChildOptions options;
    options.input = input;
    options.flags = flags;
    return Launch(arguments, options, folder);
}

bool UxferProcess::StartFromPipe(const std::string& arguments, HANDLE pipe, DWORD flags)
{
    ChildOptions options;
    options.inputPipe = pipe;
    options.flags = flags;
    return Launch(arguments, options, ProgramFolder());
}

bool UxferProcess::Launch(const std::string& arguments, ChildOptions options, const std::string& folder)
{
    // Every program this test starts gets the pipe shim, as vdevrun's programs do.
    if (!VdevShimFollowChildren((ProgramFolder() + "vdevshim.dll").c_str()))
        return false;
    options.folder = win::Widen(folder, CP_ACP);
    // The program folder is ANSI, the arguments UTF-8.
    return child_.Start(win::Widen(Quoted(folder + "uxfer.exe"), CP_ACP) + L" " + win::Widen(arguments, CP_UTF8),
                        options);
}

UxferResult RunUxfer(const std::string& arguments, const std::string& input, const std::string& folder)
{
    UxferProcess process;
    if (!process.Start(arguments, input, 0, folder))
        return {};
    return process.Wait();
}

void UxferTest::SetUp()
{
    ASSERT_TRUE(device.Open(0)) << "virtual device instance 0 missing: is the test bed up?";
    ASSERT_TRUE(device.Reset());
    // The delay is shared by every process with the library loaded, this one included.
    uSetDelay(0);
    uSetInstance(0);
}

void UxferTest::TearDown()
{
    for (const std::string& name : ScratchFiles())
        EXPECT_FALSE(name.size() > 4 && _strnicmp(name.c_str(), "uxf", 3) == 0 &&
                     _stricmp(name.c_str() + name.size() - 4, ".tmp") == 0)
            << "temporary file left behind: " << name;
}

void UxferTest::LoadWords(uint32_t addr, const std::vector<uint8_t>& bytes)
{
    ASSERT_TRUE(device.LoadMemory(2 * addr, bytes.data(), bytes.size()));
}

std::vector<uint8_t> UxferTest::DeviceBytes(uint32_t addr, uint32_t bytes)
{
    std::vector<uint8_t> data(bytes);
    EXPECT_TRUE(device.ReadMemory(2 * addr, data.data(), bytes));
    return data;
}

std::vector<std::string> UxferTest::ScratchFiles() const
{
    std::vector<std::string> names = scratch.Names();
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> WireOf(const std::vector<uint8_t>& dump)
{
    std::vector<uint8_t> wire(2 * dump.size(), 0xFF);
    for (size_t i = 0; i < dump.size(); ++i)
        wire[2 * i] = dump[i];
    return wire;
}

std::vector<uint8_t> DumpOf(const std::vector<uint8_t>& wire)
{
    std::vector<uint8_t> dump(wire.size() / 2);
    for (size_t i = 0; i < dump.size(); ++i)
        dump[i] = wire[2 * i];
    return dump;
}
