// The Linux uxfer against the device model served as a USB device (usbbed):
// its commands, exit codes, sentences, JSON and files, the faults through
// libusb, and another maker's device left untouched.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "usbbed/usbbed.h"

namespace {

struct Outcome {
    int exit = -1;
    std::string out, err;
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Store(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

class Uxfer : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/uxfer-cli-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        dir = folder;
        std::string problem;
        device = bed.Add(usbbed::kVendor, usbbed::kProduct, "1-2", VDEV_DEFAULT_MEMORY_BYTES, &problem);
        ASSERT_NE(device, nullptr) << problem;
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", usbbed::kVendor, usbbed::kProduct);
        ids = id;
        // Only what the tests configure: no user config, the bed's id.
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        setenv("UXFER_USB", ids.c_str(), 1);
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    // uxfer with `args`; `during` runs while it does, given its process id.
    Outcome Run(const std::vector<std::string>& args, const std::function<void(pid_t)>& during = nullptr)
    {
        const std::string out = dir + "/.out", err = dir + "/.err";
        const pid_t pid = fork();
        if (pid == 0) {
            std::freopen(out.c_str(), "w", stdout);
            std::freopen(err.c_str(), "w", stderr);
            if (chdir(dir.c_str()) != 0)
                _exit(126);
            std::vector<char*> argv{const_cast<char*>(UXFER_PATH)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(UXFER_PATH, argv.data());
            _exit(127);
        }
        if (during)
            during(pid);
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), Slurp(out), Slurp(err)};
    }

    // Waits for the device to hold a read, then `then` with uxfer's process id.
    std::function<void(pid_t)> WhenHeld(std::function<void(pid_t)> then)
    {
        return [this, then](pid_t pid) {
            for (int i = 0; i < 500 && !device->ReadHeld(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            then(pid);
        };
    }

    usbbed::Bed bed;
    usbbed::Device* device = nullptr;
    std::string dir, ids;
};

std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 13 + i / 256);
    return bytes;
}

}  // namespace

// A file written with --verify comes back whole from read and compare, at
// odd and even sizes, and the device's memory holds it a byte a word.
TEST_F(Uxfer, WriteVerifyReadCompare)
{
    Store(dir + "/in.bin", Pattern(200001 - 1));
    Outcome o = Run({"write", "in.bin", "--addr", "0x100", "--verify"});
    ASSERT_EQ(o.exit, 0) << o.err;
    EXPECT_EQ(o.out, "wrote 200000 bytes (400000 on the wire) from in.bin to instance 0, address 0x100, verified\n");
    o = Run({"read", "out.bin", "--addr", "0x100", "--size", "200000"});
    ASSERT_EQ(o.exit, 0) << o.err;
    EXPECT_EQ(Slurp(dir + "/out.bin"), Pattern(200000));
    o = Run({"read", "odd.bin", "--addr", "0x101", "--size", "7", "--json"});
    ASSERT_EQ(o.exit, 0) << o.err;
    EXPECT_EQ(Slurp(dir + "/odd.bin"), Pattern(8).substr(1));
    EXPECT_NE(o.out.find("\"command\":\"read\""), std::string::npos) << o.out;
    EXPECT_EQ(Run({"compare", "in.bin", "--addr", "0x100"}).exit, 0);
    std::string changed = Pattern(200000);
    changed[17] ^= 1;
    Store(dir + "/changed.bin", changed);
    o = Run({"compare", "changed.bin", "--addr", "0x100"});
    EXPECT_EQ(o.exit, 5);
    EXPECT_NE(o.err.find("comparison found 1 of 200000 words different, the first at file offset 17, word address "
                         "0x111"),
              std::string::npos)
        << o.err;
}

// One row a command or fault: the exit code and what its output begins with.
TEST_F(Uxfer, CommandsAndFaults)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        uint32_t knob, value;  // 0: none
        int exit;
        const char* stream;  // "out" or "err"
        std::string begins;
    };
    const std::string node = device->Node();
    const Case cases[] = {
        {"list", {"list"}, 0, 0, 0, "out", "0  1-2  " + ids + "  " + node + "\n"},
        {"status", {"status"}, 0, 0, 0, "out", "status:"},
        {"verify", {"verify", "--size", "16"}, 0, 0, 0, "out", "verify:"},
        {"reset", {"reset"}, 0, 0, 0, "out", "reset: code 2 sent to instance 0"},
        {"failing write", {"write", "in.bin"}, VDEV_KNOB_FAIL_WRITE, 3, 3, "err",
         "uxfer: the write of 262144 wire bytes to instance 0 failed after 65536 bytes"},
        {"failing read", {"read", "x.bin", "--size", "0x20000"}, VDEV_KNOB_FAIL_READ, 2, 3, "err",
         "uxfer: the read of 262144 wire bytes from instance 0 failed after 65536 bytes: RESULT_IO_FAILED "
         "(0xC0000005); try 'uxfer status' and 'uxfer reset'"},
        {"short read", {"read", "x.bin", "--size", "0x20000"}, VDEV_KNOB_SHORT_READ, 2, 3, "err",
         "uxfer: the read of 262144 wire bytes from instance 0 moved only"},
        {"held read, --timeout", {"read", "x.bin", "--size", "0x20000", "--timeout", "1"}, VDEV_KNOB_PEND_READ, 2, 3,
         "err", "uxfer: no answer from the device in 1 s, so the transfer was stopped; try 'uxfer status' and "
                "'uxfer reset', or a longer timeout (0: no limit)"},
        {"error status", {"read", "x.bin", "--size", "16"}, VDEV_KNOB_ERROR_AT_POLL, 1, 3, "err",
         "uxfer: the reset command to instance 0 failed: RESULT_IO_FAILED (0xC0000005); try 'uxfer status' and "
         "'uxfer reset', or --no-reset"},
        {"no such instance", {"status", "--instance", "1"}, 0, 0, 2, "err",
         "uxfer: no device at instance 1 (1 present); run 'uxfer list'"},
        {"loader version", {"status", "--loader-version", "272"}, 0, 0, 1, "err", "uxfer: --loader-version picks"},
        {"by port path", {"status", "--device", "1-2"}, 0, 0, 0, "out", "status:"},
    };
    Store(dir + "/in.bin", Pattern(0x20000));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.knob) {
            ASSERT_EQ(device->Knob(c.knob, c.value, 16), 0);
        }
        const Outcome o = Run(c.args);
        EXPECT_EQ(o.exit, c.exit) << o.err;
        const std::string& text = std::string(c.stream) == "out" ? o.out : o.err;
        EXPECT_EQ(text.rfind(c.begins, 0), 0u) << text;
        EXPECT_EQ(Slurp(dir + "/x.bin"), "");  // a failed read leaves no file
        if (c.knob) {
            ASSERT_EQ(device->Knob(c.knob, 0), 0);
        }
    }
}

// Ctrl+C and an unplug end a read the device holds; the old file stays.
TEST_F(Uxfer, StoppedWhileTheDeviceHoldsARead)
{
    Store(dir + "/x.bin", "old");
    ASSERT_EQ(device->Knob(VDEV_KNOB_PEND_READ, 2), 0);
    Outcome o = Run({"read", "x.bin", "--size", "0x20000"}, WhenHeld([](pid_t pid) { kill(pid, SIGINT); }));
    EXPECT_EQ(o.exit, 130);
    EXPECT_EQ(o.err.rfind("uxfer: cancelled", 0), 0u) << o.err;
    ASSERT_EQ(device->Knob(VDEV_KNOB_PEND_READ, 2), 0);
    o = Run({"read", "x.bin", "--size", "0x20000"}, WhenHeld([&](pid_t) { bed.Unplug(*device); }));
    EXPECT_EQ(o.exit, 3);
    EXPECT_EQ(o.err.rfind("uxfer: the read of 262144 wire bytes from instance 0 failed after 65536 bytes", 0), 0u)
        << o.err;
    EXPECT_EQ(Slurp(dir + "/x.bin"), "old");
}

// A device of another maker with a product id of this family is listed as
// not used, with the line that would use it, and receives nothing.
TEST_F(Uxfer, AnotherMakersDeviceIsLeftAlone)
{
    usbbed::Device* foreign = bed.AddForeign(0x1d6b, 0xcd02, "1-1");
    ASSERT_NE(foreign, nullptr);
    Outcome o = Run({"list"});
    ASSERT_EQ(o.exit, 0) << o.err;
    EXPECT_NE(o.out.find("-  1-1  1d6b:cd02  not used"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("uxfer usb add 1d6b:cd02"), std::string::npos) << o.out;
    EXPECT_EQ(Run({"read", "x.bin", "--size", "16"}).exit, 0);
    EXPECT_EQ(Run({"status", "--device", "1-1"}).exit, 2);
    EXPECT_TRUE(foreign->Requests().empty());
    unsetenv("UXFER_USB");
    o = Run({"list", "--json"});
    EXPECT_EQ(o.exit, 2);
    EXPECT_NE(o.out.find("\"count\":0"), std::string::npos) << o.out;
}

// watch reports a device plugged in and pulled out, and ends at its timeout.
TEST_F(Uxfer, WatchSeesArrivalAndRemoval)
{
    const Outcome o = Run({"watch", "--timeout", "3", "--json"}, [&](pid_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        usbbed::Device* added = bed.Add(usbbed::kVendor, usbbed::kProduct, "1-3");
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        if (added)
            bed.Unplug(*added);
    });
    EXPECT_EQ(o.exit, 0) << o.err;
    const size_t arrival = o.out.find("\"event\":\"arrival\",\"path\":\"1-3\"");
    const size_t removal = o.out.find("\"event\":\"removal\",\"path\":\"1-3\"");
    EXPECT_NE(arrival, std::string::npos) << o.out;
    EXPECT_NE(removal, std::string::npos) << o.out;
    EXPECT_LT(arrival, removal);
}

// --simulate: the same commands on the simulated devices of the user's
// folder, shared by the processes, with the same sentences and knob names.
TEST_F(Uxfer, SimulatedDevices)
{
    setenv("UXFERSIM_HOME", (dir + "/sim").c_str(), 1);
    Store(dir + "/in.bin", Pattern(5000));
    Outcome o = Run({"write", "in.bin", "--simulate", "--verify"});
    EXPECT_EQ(o.exit, 0) << o.err;
    o = Run({"read", "out.bin", "--size", "5000", "--simulate"});
    EXPECT_EQ(o.exit, 0) << o.err;
    EXPECT_EQ(Slurp(dir + "/out.bin"), Pattern(5000));
    o = Run({"list", "--simulate"});
    EXPECT_EQ(o.out, "0  " + dir + "/sim/device0.img\n");
    EXPECT_EQ(Run({"sim", "set", "fail_read", "1"}).exit, 0);
    o = Run({"read", "x.bin", "--size", "16", "--simulate"});
    EXPECT_EQ(o.exit, 3);
    EXPECT_NE(o.err.find("try 'uxfer status --simulate' and 'uxfer reset --simulate'"), std::string::npos) << o.err;
    unsetenv("UXFERSIM_HOME");
}
