#include "preload.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace usbbed {
namespace {

constexpr char kPreload[] = "libumockdev-preload.so.0";
// Set in the program started again, so that a preload that never loads ends
// the program instead of starting it without end.
constexpr char kRestarted[] = "USBBED_RESTARTED";

}  // namespace

bool PreloadLoaded()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("libumockdev-preload.so") != std::string::npos)
            return true;
    return false;
}

void EnsurePreload(char** argv)
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    if (PreloadLoaded())
        return;
    if (std::getenv(kRestarted)) {
        std::fprintf(stderr, "usbbed: %s did not load (is umockdev installed?)\n", kPreload);
        std::exit(2);
    }
    const char* before = std::getenv("LD_PRELOAD");
    std::string preload = kPreload;
    if (before && *before)
        preload += std::string(":") + before;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv(kRestarted, "1", 1);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "usbbed: cannot start this program again under %s: %s\n", kPreload, std::strerror(errno));
    std::exit(2);
}

}  // namespace usbbed
