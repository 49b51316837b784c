// The simulated devices on Linux: the folder the environment picks, memory
// that two processes share through the store, and links on a simulated device
// (usblink/sim_bus.h) that write, read back and meet the knobs set by name.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "../usblink/temp_folder.h"
#include "sim/store.h"
#include "link_requests.h"
#include "usblink/sim_bus.h"

using usblink::Code;

namespace {

constexpr uint32_t kAddress = 0x200;  // bytes
constexpr unsigned kLongMs = 10000;

usblink::Request Memory(uint32_t length)
{
    return linux_tests::Memory(kAddress, length);
}

using linux_tests::Pattern;

void SetVariable(const char* name, const std::string& value)
{
    if (value.empty())
        unsetenv(name);
    else
        setenv(name, value.c_str(), 1);
}

class Simulated : public ::testing::Test {
protected:
    void SetUp() override { SetVariable("UXFERSIM_HOME", folder.Path()); }

    std::unique_ptr<usblink::Link> Open(usblink::Result& result, unsigned chunkMs = kLongMs)
    {
        std::unique_ptr<usblink::SimBus> bus;
        std::unique_ptr<usblink::Link> link;
        result = usblink::SimBus::Open(bus);
        if (result.ok())
            result = bus->OpenLink(0, 0, usblink::Timeouts{kLongMs, chunkMs, 100}, link);
        return link;
    }

    std::unique_ptr<sim::Store> Store()
    {
        std::string problem;
        std::unique_ptr<sim::Store> store = sim::Store::Open(folder.Path(), problem);
        EXPECT_TRUE(store) << problem;
        return store;
    }

    usblink::Result Write(usblink::Link& link, const std::vector<uint8_t>& data)
    {
        uint32_t count = 0;
        return link.Write(Memory(static_cast<uint32_t>(data.size())), [&](const usblink::Chunk& c) {
            std::copy(data.begin() + c.offset, data.begin() + c.offset + c.size, c.data);
            return true;
        }, count);
    }

    usblink::Result Read(usblink::Link& link, std::vector<uint8_t>& data)
    {
        uint32_t count = 0;
        return link.Read(Memory(static_cast<uint32_t>(data.size())), [&](const usblink::Chunk& c) {
            std::copy(c.data, c.data + c.moved, data.begin() + c.offset);
            return true;
        }, count);
    }

    // devices.ini applied, then a knob of device 0 set by name, as 'uxfer sim reset' and 'set' do.
    void Settle(const char* ini, const char* name, uint32_t value, uint32_t value2)
    {
        WriteText(folder / "devices.ini", ini);
        std::unique_ptr<sim::Store> store = Store();
        sim::Access access(*store);
        ASSERT_EQ(access.ApplySettings(), "");
        VdevKnob knob = {0, value, value2};
        EXPECT_TRUE(!name || (sim::KnobByName(name, knob.id) && access.SetKnob(0, knob) == MODEL_OK)) << name;
    }

    // Releases the read device 0 holds once it holds one (within 10 s), from a store of its own.
    static bool Release(sim::Store& store)
    {
        for (int look = 0; look < 2000; ++look) {
            store.Wait(5);
            sim::Access access(store);
            if (access.held() && access.record(0).heldRead == sim::kHeld) {
                return access.SetKnob(0, VdevKnob{VDEV_KNOB_RELEASE_READ, 0, 0}) == MODEL_OK;
            }
        }
        return false;
    }

    TempFolder folder;
};

}  // namespace

TEST(SimulatedFolder, EnvironmentPicksIt)
{
    TempFolder base;
    const struct {
        const char *home, *state, *user, *expected;
    } cases[] = {
        {"/own", "/state", "/user", "/own"},
        {"", "/state", "/user", "/state/uxfer-sim"},
        {"", "", "/user", "/user/.local/state/uxfer-sim"},
        {"", "relative", "/user", "/user/.local/state/uxfer-sim"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        const auto in = [&](const char* path) { return *path == '/' ? base.Path() + path : std::string(path); };
        SetVariable("UXFERSIM_HOME", in(c.home));
        SetVariable("XDG_STATE_HOME", in(c.state));
        SetVariable("HOME", in(c.user));
        std::unique_ptr<usblink::SimBus> bus;
        const usblink::Result result = usblink::SimBus::Open(bus);
        ASSERT_TRUE(result.ok()) << result.detail;
        EXPECT_EQ(bus->Folder(), in(c.expected));
        struct stat info;
        EXPECT_EQ(stat((in(c.expected) + "/state.bin").c_str(), &info), 0);
    }
}

// What one process writes through a link, another reads from the store.
TEST_F(Simulated, TwoProcessesShareMemory)
{
    const std::vector<uint8_t> data = Pattern(3 * usblink::kChunkBytes + 36, 5);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        usblink::Result result;
        std::unique_ptr<usblink::Link> link = Open(result);
        const bool written = link && Write(*link, data).ok();
        link.reset();
        _exit(written ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::unique_ptr<sim::Store> store = Store();
    std::vector<uint8_t> stored(data.size());
    sim::Access access(*store);
    ASSERT_EQ(ModelGetMemory(&access.model(0), kAddress, stored.data(), static_cast<uint32_t>(stored.size())), MODEL_OK);
    EXPECT_TRUE(stored == data);
}

// Requests of two processes take turns: no increment is lost, and the lock of
// a process that ends while it holds it is free.
TEST_F(Simulated, ProcessesTakeTurns)
{
    constexpr uint32_t kTurns = 2000;
    const auto count = [](sim::Store& store) {
        for (uint32_t turn = 0; turn < kTurns; ++turn) {
            sim::Access access(store);
            uint32_t value = 0;
            ModelGetMemory(&access.model(0), 0, reinterpret_cast<uint8_t*>(&value), sizeof value);
            ++value;
            if (!access.held() ||
                ModelSetMemory(&access.model(0), 0, reinterpret_cast<const uint8_t*>(&value), sizeof value) != MODEL_OK)
                return false;
        }
        return true;
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::unique_ptr<sim::Store> store = Store();
        if (!store || !count(*store))
            _exit(1);
        sim::Access last(*store);
        _exit(last.held() ? 0 : 1);  // with the lock
    }
    EXPECT_TRUE(count(*Store()));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::unique_ptr<sim::Store> store = Store();
    sim::Access access(*store);
    ASSERT_TRUE(access.held()) << access.problem();
    uint32_t value = 0;
    ModelGetMemory(&access.model(0), 0, reinterpret_cast<uint8_t*>(&value), sizeof value);
    EXPECT_EQ(value, 2 * kTurns);
}

TEST_F(Simulated, LinkWritesThenReadsBack)
{
    usblink::Result result;
    std::unique_ptr<usblink::Link> link = Open(result);
    ASSERT_TRUE(link) << result.detail;
    std::unique_ptr<usblink::Link> second = Open(result);
    EXPECT_EQ(result.code, Code::OpenFailed);
    EXPECT_EQ(result.detail, "simulated device 0 is in use by another program");
    for (uint32_t length : {4u, usblink::kChunkBytes, 2 * usblink::kChunkBytes + 36}) {
        SCOPED_TRACE(length);
        const std::vector<uint8_t> data = Pattern(length, length);
        ASSERT_TRUE((result = Write(*link, data)).ok()) << result.detail;
        std::vector<uint8_t> back(length);
        ASSERT_TRUE((result = Read(*link, back)).ok()) << result.detail;
        EXPECT_TRUE(back == data);
    }
}

// A knob set by name, in devices.ini or from another store, meets the next
// transfer as on Windows; a held read ends when released, or at its timeout.
TEST_F(Simulated, KnobsByName)
{
    const struct {
        const char* ini;
        const char* knob;  // null: none
        uint32_t value, value2;
        bool write, release;
        unsigned chunkMs;
        Code code;
        const char* detail;
    } cases[] = {
        {"[device]\n", "fail_read", 1, 0, false, false, kLongMs, Code::IoFailed,
         "reading the chunk at byte 0: the device failed it"},
        {"[device]\nFAIL-READ = 1\n", nullptr, 0, 0, false, false, kLongMs, Code::IoFailed,
         "reading the chunk at byte 0: the device failed it"},
        {"[device]\n", "fail_write", 1, 0, true, false, kLongMs, Code::IoFailed,
         "writing the chunk at byte 0: the device failed it"},
        {"[device]\n", "pend_read", 1, 0, false, false, 100, Code::Timeout,
         "reading the chunk at byte 0: the device did not answer in time"},
        {"[device]\n", "pend_read", 1, 0, false, true, kLongMs, Code::Ok, ""},
        {"[device]\n", "fail_open", 1, VDEV_PIPE_IN, false, false, kLongMs, Code::OpenFailed,
         "can't open simulated device 0: the device failed it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ini) + (c.knob ? c.knob : ""));
        Settle(c.ini, c.knob, c.value, c.value2);
        std::unique_ptr<sim::Store> store = Store();
        std::thread releaser;
        bool released = false;
        if (c.release)
            releaser = std::thread([&] { released = Release(*store); });
        usblink::Result result;
        std::unique_ptr<usblink::Link> link = Open(result, c.chunkMs);
        std::vector<uint8_t> data(64);
        if (link)
            result = c.write ? Write(*link, data) : Read(*link, data);
        if (releaser.joinable())
            releaser.join();
        EXPECT_EQ(released, c.release);
        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(result.detail, c.detail);
    }
}
