#include "platform.h"

#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "errors.h"
#include "options.h"

namespace cli {

const char kDeviceAccess[] = "USB (libusb)";
const char kSimulateHelp[] = "use the simulated devices instead of USB";

void AddDeviceOptions(CLI::App& command, CommonOptions& common)
{
    command.add_option("--usb", common.usb,
                       "also use devices with this vendor and product id (hex VID:PID), besides the configured ones")
        ->type_name("VID:PID");
    command.add_option("--device", common.device,
                       "the device at this USB port path (BUS-PORT[.PORT...], as 'uxfer list' shows), instead of "
                       "--instance")
        ->type_name("PATH");
}

std::string LoaderVersionHelp()
{
    return "Windows only: the loader driver's version, which means nothing here";
}

std::string LoaderVersionProblem(uint32_t)
{
    return "--loader-version picks the interface class of a Windows loader driver, which Linux doesn't have: leave "
           "it out";
}

int PrepareSystem(const CommonOptions& common)
{
    if (common.delay)
        return Fail(kExitUsage, "--delay sets the Windows library's wait between status polls, which Linux doesn't "
                                "have: leave it out");
    if (common.simulate)
        return Fail(kExitUsage, "--simulate: the simulated devices are not in this edition yet");
    return kExitOk;
}

std::string LocalTimeStamp()
{
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local = {};
    localtime_r(&now.tv_sec, &local);
    const long offset = local.tm_gmtoff < 0 ? -local.tm_gmtoff / 60 : local.tm_gmtoff / 60;
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03ld%c%02ld:%02ld", now.tv_nsec / 1000000,
                  local.tm_gmtoff < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

bool IsConsole(FILE* stream)
{
    return isatty(fileno(stream)) == 1;
}

void WriteConsoleLine(FILE* stream, const std::string& line)
{
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

bool WriteStandardOutput(const uint8_t* data, uint32_t bytes)
{
    while (bytes > 0) {
        const ssize_t put = write(STDOUT_FILENO, data, bytes);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        bytes -= static_cast<uint32_t>(put);
    }
    return true;
}

ops::Path SystemPath(const std::string& name)
{
    return name;
}

bool LoadDumpSettings(const std::string& name, std::string& shown, dump::DumpSettings& settings)
{
    char full[PATH_MAX];
    shown = realpath(name.c_str(), full) ? full : name;
    if (access(name.c_str(), R_OK) != 0)
        return false;
    settings = dump::LoadSettings(name);
    return true;
}

}  // namespace cli
