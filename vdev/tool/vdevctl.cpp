// vdevctl: the virtual device from the command line, for people and scripts.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "vdev_client.h"

namespace {

using vdev::KnobName;

void PrintUsage(std::FILE* out)
{
    std::fprintf(out,
                 "usage: vdevctl [-i instance] command [arguments]\n"
                 "  install <driver.sys>      install the driver and instance 0\n"
                 "  uninstall                 remove every instance and the driver service\n"
                 "  add                       add an instance, print its number\n"
                 "  remove                    remove the instance\n"
                 "  plug | unplug             enable or disable its product interface\n"
                 "  reset                     idle device, knobs off, log and memory cleared\n"
                 "  info                      print the instance's state\n"
                 "  load <file> [offset]      load memory (byte offset, default 0) from a file\n"
                 "  save <file> <offset> <n>  save n bytes of memory to a file\n"
                 "  memsize <bytes>           resize memory (zeroed; even, up to 0xFFFFFFFE)\n"
                 "  descriptor <vid> <pid> <bcd>  set idVendor, idProduct, bcdDevice\n"
                 "  knob <knob> <value> [value2]  set a fault or status knob, by name or number\n"
                 "  log [first]               print the receive log\n"
                 "  help                      this text and the knobs\n"
                 "knobs (k counts from the moment the knob is set, 1-based; 0 turns it off):\n");
    for (const KnobName& knob : vdev::Knobs())
        std::fprintf(out, "  %-18s %2u  %s\n", knob.name, static_cast<unsigned>(knob.id), knob.values);
}

int Usage()
{
    PrintUsage(stderr);
    return 2;
}

unsigned long Number(const char* text)
{
    return std::strtoul(text, nullptr, 0);
}

// A knob by its number or its name (any case).
bool KnobId(const char* text, uint32_t& id)
{
    char* end = nullptr;
    id = std::strtoul(text, &end, 0);
    if (end != text && *end == '\0')
        return true;
    for (const KnobName& knob : vdev::Knobs())
        if (_stricmp(knob.name, text) == 0) {
            id = knob.id;
            return true;
        }
    return false;
}

int Fail(const char* what)
{
    std::fprintf(stderr, "vdevctl: %s failed\n", what);
    return 1;
}

int WithDevice(unsigned instance, int argc, char** argv)
{
    vdev::Device device;
    if (!device.Open(instance)) {
        std::fprintf(stderr, "vdevctl: instance %u is not there\n", instance);
        return 1;
    }
    std::string command = argv[0];
    if (command == "plug" || command == "unplug")
        return device.SetPlugged(command == "plug") ? 0 : Fail(argv[0]);
    if (command == "reset")
        return device.Reset() ? 0 : Fail("reset");
    if (command == "info") {
        VdevInfo info;
        if (!device.Info(info))
            return Fail("info");
        std::printf("instance %u\nplugged %u\nmemory %u bytes\nmemory pages written %u (1 MiB each)\nactive %u\n"
                    "read held %u\nstatus polls %u\nlog records %u\nopen handles %u\ninterface %s\n",
                    info.instance, info.plugged, info.memoryBytes, info.memoryPagesWritten, info.active,
                    info.readPending, info.statusPolls, info.logNext, info.openHandles, info.interfacePath);
        return 0;
    }
    if (command == "load" && argc >= 2) {
        std::ifstream in(argv[1], std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof())
            return Fail("reading the file");
        uint32_t offset = argc >= 3 ? Number(argv[2]) : 0;
        return device.LoadMemory(offset, bytes.data(), bytes.size()) ? 0 : Fail("load");
    }
    if (command == "save" && argc >= 4) {
        std::vector<char> bytes(Number(argv[3]));
        if (!device.ReadMemory(Number(argv[2]), bytes.data(), bytes.size()))
            return Fail("save");
        std::ofstream out(argv[1], std::ios::binary);
        out.write(bytes.data(), bytes.size());
        return out.good() ? 0 : Fail("writing the file");
    }
    if (command == "memsize" && argc >= 2)
        return device.SetMemorySize(Number(argv[1])) ? 0 : Fail("memsize");
    if (command == "descriptor" && argc >= 4)
        return device.SetDescriptor(Number(argv[1]), Number(argv[2]), Number(argv[3])) ? 0 : Fail("descriptor");
    if (command == "knob" && argc >= 3) {
        uint32_t id = 0;
        if (!KnobId(argv[1], id)) {
            std::fprintf(stderr, "vdevctl: no knob is named %s (vdevctl help lists them)\n", argv[1]);
            return 2;
        }
        return device.Knob(id, Number(argv[2]), argc >= 4 ? Number(argv[3]) : 0) ? 0 : Fail("knob");
    }
    if (command == "log") {
        for (const auto& record : device.Log(argc >= 2 ? Number(argv[1]) : 0))
            std::printf("%s\n", vdev::Describe(record).c_str());
        return 0;
    }
    return Usage();
}

}  // namespace

int main(int argc, char** argv)
{
    unsigned instance = 0;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "-i") == 0) {
        instance = Number(argv[2]);
        first = 3;
    }
    if (first >= argc)
        return Usage();
    std::string command = argv[first];
    if (command == "help") {
        PrintUsage(stdout);
        return 0;
    }
    if (command == "install")
        return vdev::InstallDriver(first + 1 < argc ? argv[first + 1] : "") ? 0 : Fail("install");
    if (command == "uninstall")
        return vdev::UninstallDriver() ? 0 : Fail("uninstall");
    if (command == "add") {
        int n = vdev::AddInstance();
        if (n < 0)
            return Fail("add");
        std::printf("%d\n", n);
        return 0;
    }
    if (command == "remove")
        return vdev::RemoveInstance(instance) ? 0 : Fail("remove");
    return WithDevice(instance, argc - first, argv + first);
}
