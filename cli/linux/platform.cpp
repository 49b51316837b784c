#include "platform.h"

#include <unistd.h>

#include <CLI/CLI.hpp>

#include <climits>
#include <cstdlib>
#include <ctime>

#include "dump/classes.h"
#include "errors.h"
#include "options.h"

namespace cli {

const char kDeviceAccess[] = "USB (libusb)";
const char kSimulatedFolders[] = "$UXFERSIM_HOME, else $XDG_STATE_HOME/uxfer-sim, else ~/.local/state/uxfer-sim";
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
    return "with --simulate, the class of the simulated devices: " + dump::LoaderVersionList() +
           "; a USB device has no loader driver";
}

std::string LoaderVersionRefusal(bool simulate)
{
    return simulate ? "" : "--loader-version picks the interface class of a Windows loader driver, which Linux "
                           "doesn't have: leave it out";
}

int PrepareSystem(const CommonOptions& common)
{
    if (common.delay)
        return Fail(kExitUsage, "--delay sets the Windows library's wait between status polls, which Linux doesn't "
                                "have: leave it out");
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

ops::Path SystemPath(const std::string& name)
{
    return name;
}

std::string SystemText(const ops::Path& path)
{
    return path;
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
