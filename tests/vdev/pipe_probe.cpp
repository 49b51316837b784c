// pipe_probe.exe: opens \PIPE0 of the first default-class interface with
// CreateFileA, as a product program would: exit 0 when the pipe opened, 3 when
// it did not, 4 without a device.
// pipe_probe.exe spawn: starts pipe_probe.exe suspended with CreateProcessA,
// resumes it and returns its exit code; 5 when the child was already running
// before it was resumed here, 6 when it could not be started.
#include <windows.h>

#include <string>

#include "common/device_fixture.h"
#include "common/processes.h"

namespace {

int Probe()
{
    std::string path = InterfacePath(vdev::kDefaultClass, 0);
    if (path.empty())
        return 4;
    win::unique_file pipe(OpenPath(path + "\\PIPE0", GENERIC_READ));
    return pipe.valid() ? 0 : 3;
}

int Spawn()
{
    std::string line = "\"" + ProgramFolder() + "pipe_probe.exe\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &info))
        return 6;
    win::unique_handle process(info.hProcess), thread(info.hThread);
    // A suspended thread counts one suspension until it is resumed.
    const DWORD suspensions = ResumeThread(thread.get());
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 6;
    GetExitCodeProcess(process.get(), &code);
    return suspensions == 1 ? static_cast<int>(code) : 5;
}

}  // namespace

int main(int argc, char** argv)
{
    return argc > 1 && std::string(argv[1]) == "spawn" ? Spawn() : Probe();
}
