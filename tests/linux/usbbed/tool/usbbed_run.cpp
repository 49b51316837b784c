// usbbed_run: a program against the USB test bed from the shell, as vdevrun
// does for the Windows test bed.
//   usbbed_run [--device PORT]... [--foreign VID:PID@PORT]... [--knob PORT:ID:K]... [--log FILE]
//              -- PROGRAM [ARG]...
// makes the bed (a device of this family at each --device port, another
// maker's device at each --foreign one, then the knobs: VDEV_KNOB_ id and
// value on the device at PORT), runs PROGRAM with UXFER_USB set to the bed's
// id, and exits with its exit code.  A shell as PROGRAM runs several
// commands on one bed.  Afterwards it says how many requests each foreign
// device received, and with --log writes what the devices received to FILE,
// a record a line as vdevctl log prints the virtual device's.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "devicemodel/records.h"
#include "preload.h"
#include "usbbed/usbbed.h"

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: usbbed_run [--device PORT]... [--foreign VID:PID@PORT]... [--knob PORT:ID:K]... "
                         "[--log FILE] -- PROGRAM [ARG]...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    usbbed::EnsurePreload(argv);
    usbbed::Bed bed;
    std::map<std::string, usbbed::Device*> devices;
    std::vector<std::pair<std::string, usbbed::Device*>> foreign;
    std::string log;
    int i = 1;
    for (; i + 1 < argc && std::strcmp(argv[i], "--") != 0; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        std::string problem;
        if (option == "--device") {
            if (!(devices[value] = bed.Add(usbbed::kVendor, usbbed::kProduct, value, VDEV_DEFAULT_MEMORY_BYTES,
                                           &problem)))
                return std::fprintf(stderr, "usbbed_run: %s\n", problem.c_str()), 2;
        } else if (option == "--foreign") {
            unsigned vendor = 0, product = 0;
            char port[64] = {};
            if (std::sscanf(value.c_str(), "%x:%x@%63s", &vendor, &product, port) != 3)
                return Usage();
            usbbed::Device* device = bed.AddForeign(static_cast<uint16_t>(vendor), static_cast<uint16_t>(product),
                                                    port, &problem);
            if (!device)
                return std::fprintf(stderr, "usbbed_run: %s\n", problem.c_str()), 2;
            foreign.emplace_back(value, device);
        } else if (option == "--log") {
            log = value;
        } else if (option == "--knob") {
            const size_t colon = value.find(':');
            unsigned id = 0, k = 0;
            if (colon == std::string::npos || !devices.count(value.substr(0, colon)) ||
                std::sscanf(value.c_str() + colon + 1, "%u:%u", &id, &k) != 2 ||
                devices[value.substr(0, colon)]->Knob(id, k) != 0)
                return Usage();
        } else {
            return Usage();
        }
    }
    if (i + 1 >= argc)
        return Usage();
    char id[16];
    std::snprintf(id, sizeof id, "%04x:%04x", usbbed::kVendor, usbbed::kProduct);
    setenv("UXFER_USB", id, 1);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[i + 1], argv + i + 1);
        std::perror("usbbed_run");
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    for (const auto& [name, device] : foreign)
        std::printf("usbbed_run: the device %s received %zu requests\n", name.c_str(), device->Requests().size());
    if (!log.empty()) {
        FILE* file = std::fopen(log.c_str(), "w");
        for (const auto& [port, device] : devices)
            for (const VdevLogRecord& record : device->Log())
                if (file)
                    std::fprintf(file, "%s\n", vdev::Describe(record).c_str());
        if (!file || std::fclose(file) != 0)
            return std::fprintf(stderr, "usbbed_run: can't write %s\n", log.c_str()), 2;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
