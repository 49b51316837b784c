// GetDriverVersion against driver files with chosen version resources, put in
// place of the installed driver for the test and taken away again; the NT 4
// file name through a helper program that Wine runs as Windows NT 4.0.
#include <string>

#include "common/processes.h"
#include "common/system_folders.h"
#include "comserver/talvix_support.h"
#include "win/unique_any.h"

namespace {

const std::string kInstalled = "KelvaneV4.sys";
const std::string kOldName = "KTRV9X.sys";

// Moves the installed driver file aside and brings it back at the end; puts
// test files under either driver name meanwhile.
class DriverFiles {
public:
    DriverFiles() : folder_(DriversFolder())
    {
        // A run that ended early left the installed file aside: bring it back first.
        MoveFileExA(Saved().c_str(), (folder_ + kInstalled).c_str(), MOVEFILE_REPLACE_EXISTING);
        moved_ = MoveFileExA((folder_ + kInstalled).c_str(), Saved().c_str(), 0) != FALSE;
    }
    ~DriverFiles()
    {
        DeleteFileA((folder_ + kOldName).c_str());
        if (moved_) {
            DeleteFileA((folder_ + kInstalled).c_str());
            MoveFileExA(Saved().c_str(), (folder_ + kInstalled).c_str(), 0);
        }
    }
    DriverFiles(const DriverFiles&) = delete;
    DriverFiles& operator=(const DriverFiles&) = delete;

    bool Ready() const { return moved_; }
    // Installs bin\driver_<tag>.sys under `name`.
    bool Put(const char* tag, const std::string& name)
    {
        std::string source = ProgramFolder() + "driver_" + tag + ".sys";
        return CopyFileA(source.c_str(), (folder_ + name).c_str(), FALSE) != FALSE;
    }
    bool Remove(const std::string& name) { return DeleteFileA((folder_ + name).c_str()) != FALSE; }

private:
    std::string Saved() const { return folder_ + kInstalled + ".saved"; }

    std::string folder_;
    bool moved_ = false;
};

struct Reported {
    HRESULT hr;
    ULONG version;
    ULONG status;
};

Reported Query(ITVXDevice* object)
{
    Reported reported{E_FAIL, 0xDEAD, 0xDEAD};
    reported.hr = object->GetDriverVersion(&reported.version, &reported.status);
    return reported;
}

using TalvixDriverVersion = TalvixTest;

TEST_F(TalvixDriverVersion, InstalledDriverIsRecentEnough)
{
    Reported reported = Query(tvx.Get());
    EXPECT_EQ(reported.hr, S_OK);
    EXPECT_EQ(reported.version, 0x05000102u);
    EXPECT_EQ(reported.status, 0u);
}

// On a 64-bit Windows the driver lies only in the native System32\Drivers; the
// name this 32-bit process has for that folder leads to SysWOW64\Drivers.
TEST_F(TalvixDriverVersion, Wow64ReadsTheDriverInTheNativeFolder)
{
    if (!UnderWow64())
        GTEST_SKIP() << "a 32-bit Windows has one System32";
    const std::string redirected = WindowsFolder() + "\\System32\\Drivers\\" + kInstalled;
    ASSERT_EQ(GetFileAttributesA(redirected.c_str()), INVALID_FILE_ATTRIBUTES) << "a copy lies in SysWOW64";
    ASSERT_NE(GetFileAttributesA((DriversFolder() + kInstalled).c_str()), INVALID_FILE_ATTRIBUTES);

    Reported reported = Query(tvx.Get());
    EXPECT_EQ(reported.hr, S_OK);
    EXPECT_EQ(reported.version, 0x05000102u);
    EXPECT_EQ(reported.status, 0u);
    // The redirection is back on for this thread.
    EXPECT_EQ(GetFileAttributesA(redirected.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TalvixDriverVersion, VersionsArePackedAndComparedPacked)
{
    DriverFiles files;
    ASSERT_TRUE(files.Ready());
    struct Case {
        const char* tag;
        ULONG packed;
        ULONG status;
    } cases[] = {
        {"5011", 0x05000101, R_OLD_DRIVER},
        {"5012", 0x05000102, 0},
        {"5100", 0x05000100, R_OLD_DRIVER},  // the packed comparison ranks 5.1.0.0 below 5.0.1.2
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(files.Put(c.tag, kInstalled)) << c.tag;
        Reported reported = Query(tvx.Get());
        EXPECT_EQ(reported.hr, S_OK) << c.tag;
        EXPECT_EQ(reported.version, c.packed) << c.tag;
        EXPECT_EQ(reported.status, c.status) << c.tag;
    }
}

TEST_F(TalvixDriverVersion, MissingFileGivesTheFloorAndFalse)
{
    DriverFiles files;
    ASSERT_TRUE(files.Ready());
    ASSERT_TRUE(files.Put("5012", kOldName));  // the other name does not stand in
    Reported reported = Query(tvx.Get());
    EXPECT_EQ(reported.hr, S_FALSE);
    EXPECT_EQ(reported.version, DRIVER_VERSION_FLOOR);
    EXPECT_EQ(reported.status, R_OLD_DRIVER);
}

UINT WINAPI FailingWindowsDirectory(LPSTR, UINT)
{
    return 0;
}

// 250 characters: the directory fits its buffer, the driver path does not.
UINT WINAPI LongWindowsDirectory(LPSTR buffer, UINT size)
{
    const UINT length = 250;
    if (size <= length)
        return length + 1;
    buffer[0] = 'C';
    buffer[1] = ':';
    for (UINT i = 2; i < length; ++i)
        buffer[i] = 'w';
    buffer[length] = '\0';
    return length;
}

TEST_F(TalvixDriverVersion, WindowsDirectoryFailureAndOverflow)
{
    {
        ImportPatch patch(server.Module(), "kernel32.dll", "GetWindowsDirectoryA",
                          reinterpret_cast<void*>(&FailingWindowsDirectory));
        ASSERT_TRUE(patch.Applied());
        Reported reported = Query(tvx.Get());
        EXPECT_EQ(reported.hr, S_OK);
        EXPECT_EQ(reported.version, DRIVER_VERSION_FLOOR);
        EXPECT_EQ(reported.status, R_OLD_DRIVER);
    }
    {
        ImportPatch patch(server.Module(), "kernel32.dll", "GetWindowsDirectoryA",
                          reinterpret_cast<void*>(&LongWindowsDirectory));
        ASSERT_TRUE(patch.Applied());
        Reported reported = Query(tvx.Get());
        EXPECT_EQ(reported.hr, S_FALSE);
        EXPECT_EQ(reported.version, DRIVER_VERSION_FLOOR);
        EXPECT_EQ(reported.status, R_OLD_DRIVER);
    }
}

// Wine reports the Windows version chosen for a program under AppDefaults.
class ProgramVersion {
public:
    ProgramVersion(const char* exe, const char* version) : key_(std::string("Software\\Wine\\AppDefaults\\") + exe)
    {
        win::unique_hkey key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                            nullptr) != ERROR_SUCCESS)
            return;
        set_ = RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                              static_cast<DWORD>(strlen(version) + 1)) == ERROR_SUCCESS;
    }
    ~ProgramVersion() { RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str()); }
    ProgramVersion(const ProgramVersion&) = delete;
    ProgramVersion& operator=(const ProgramVersion&) = delete;
    bool Set() const { return set_; }

private:
    std::string key_;
    bool set_ = false;
};

const char kProbe[] = "talvix_version_probe.exe";

// The probe's one line of output, or what went wrong.
std::string RunProbe()
{
    const CommandResult run = RunProgram(kProbe, "", 30000);
    if (!run.finished)
        return "not finished";
    std::string output = run.output;
    if (run.exitCode != 0)
        output += " exit " + std::to_string(run.exitCode);
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    return output;
}

TEST_F(TalvixDriverVersion, WindowsNt4LooksForTheOldFileName)
{
    DriverFiles files;
    ASSERT_TRUE(files.Ready());
    ASSERT_TRUE(files.Put("5012", kInstalled));
    ProgramVersion nt4(kProbe, "nt40");
    ASSERT_TRUE(nt4.Set());

    EXPECT_EQ(RunProbe(), "hr=00000001 version=05000101 status=800c0000 major=4") << "no old file yet";
    ASSERT_TRUE(files.Put("5011", kOldName));
    EXPECT_EQ(RunProbe(), "hr=00000000 version=05000101 status=800c0000 major=4");
    ASSERT_TRUE(files.Put("5012", kOldName));
    EXPECT_EQ(RunProbe(), "hr=00000000 version=05000102 status=00000000 major=4");
}

TEST_F(TalvixDriverVersion, LaterWindowsLooksForTheNtFileName)
{
    DriverFiles files;
    ASSERT_TRUE(files.Ready());
    ASSERT_TRUE(files.Put("5011", kInstalled));
    ASSERT_TRUE(files.Put("5100", kOldName));
    ProgramVersion xp(kProbe, "winxp");
    ASSERT_TRUE(xp.Set());
    EXPECT_EQ(RunProbe(), "hr=00000000 version=05000101 status=800c0000 major=5");
}

}  // namespace
