// The device model's rules are tested once for both images of the library:
// the same sequence of export calls through uXfer.dll against the virtual
// device and through uXferSim.dll against a simulated device gives the same
// results, and the device logs the same requests.  Faults come through the
// driver's back channel and through the simulated devices' store.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/device_log.h"
#include "common/processes.h"
#include "dumptool/test_files.h"
#include "sim/store.h"
#include "uXfer.h"
#include "vdev_client.h"
#include "devicemodel/records.h"

namespace {

// The exports a sequence calls, taken from one image.
struct Exports {
    decltype(&uCreate) create;
    decltype(&uClose) close;
    decltype(&uXferRead) read;
    decltype(&uXferWrite) write;
    decltype(&uXferVerify) verify;
    decltype(&uGetStatus) status;
    decltype(&uSetDelay) delay;
    decltype(&uSetInstance) instance;
};

template <typename F>
bool Take(HMODULE module, const char* name, F& f)
{
    f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return f != nullptr;
}

bool Load(const char* dll, Exports& e)
{
    HMODULE m = LoadLibraryA((ProgramFolder() + dll).c_str());
    return m && Take(m, "uCreate", e.create) && Take(m, "uClose", e.close) && Take(m, "uXferRead", e.read) &&
           Take(m, "uXferWrite", e.write) && Take(m, "uXferVerify", e.verify) && Take(m, "uGetStatus", e.status) &&
           Take(m, "uSetDelay", e.delay) && Take(m, "uSetInstance", e.instance);
}

// The device behind one image: reset, a knob, its log.
class Device {
public:
    virtual ~Device() = default;
    virtual bool Reset() = 0;
    virtual bool Knob(uint32_t id, uint32_t value, uint32_t value2) = 0;
    virtual std::vector<VdevLogRecord> Log() = 0;
    virtual bool ReadHeld() = 0;
};

class DriverDevice : public Device {
public:
    bool Open() { return device_.Open(0); }
    bool Reset() override { return device_.Reset(); }
    bool Knob(uint32_t id, uint32_t value, uint32_t value2) override { return device_.Knob(id, value, value2); }
    std::vector<VdevLogRecord> Log() override { return device_.Log(); }
    bool ReadHeld() override
    {
        VdevInfo info{};
        return device_.Info(info) && info.readPending;
    }

private:
    vdev::Device device_;
};

class SimDevice : public Device {
public:
    bool Open(const std::string& folder)
    {
        std::string problem;
        store_ = sim::Store::Open(std::wstring(folder.begin(), folder.end()), problem);
        return store_ != nullptr;
    }
    bool Reset() override
    {
        sim::Access access(*store_);
        return access.held() && access.ApplySettings().empty();
    }
    bool Knob(uint32_t id, uint32_t value, uint32_t value2) override
    {
        sim::Access access(*store_);
        return access.held() && access.SetKnob(0, VdevKnob{id, value, value2}) == MODEL_OK;
    }
    std::vector<VdevLogRecord> Log() override
    {
        std::vector<VdevLogRecord> log(VDEV_LOG_CAPACITY);
        sim::Access access(*store_);
        log.resize(access.held() ? ModelCopyLog(&access.model(0), 0, log.data(), VDEV_LOG_CAPACITY) : 0);
        return log;
    }
    bool ReadHeld() override
    {
        sim::Access access(*store_);
        return access.held() && access.record(0).heldRead == sim::kHeld;
    }

private:
    std::unique_ptr<sim::Store> store_;
};

TransferDesc Desc(uint32_t address, uint32_t length, uint32_t unitSize = 4)
{
    TransferDesc desc = {};
    desc.address = address;
    desc.length = length;
    desc.unitSize = unitSize;
    return desc;
}

// One step of the sequence: a knob first (id 0: none), then a call; what it gave, as text.
struct Step {
    const char* name;
    uint32_t knob, value, value2;
    std::string (*call)(const Exports& e, Device& d);
};

// The result, the count and (with data) the first bytes.
std::string Outcome(uint32_t result, const void* data, uint32_t count)
{
    char head[32];
    std::snprintf(head, sizeof head, "%08x count=%u", result, count);
    std::string text = head;
    for (uint32_t i = 0; data && i < count && i < 16; ++i) {
        std::snprintf(head, sizeof head, " %02x", static_cast<const uint8_t*>(data)[i]);
        text += head;
    }
    return text;
}

std::vector<uint8_t> Data(uint32_t bytes)
{
    std::vector<uint8_t> data(bytes);
    for (uint32_t i = 0; i < bytes; ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 256);
    return data;
}

std::string ReadBack(const Exports& e, uint32_t address, uint32_t bytes)
{
    std::vector<uint8_t> buffer(bytes, 0xEE);
    uint32_t count = bytes;
    const TransferDesc desc = Desc(address, bytes);
    const uint32_t result = e.read(&desc, buffer.data(), &count);
    return Outcome(result, buffer.data(), count) + (buffer == Data(bytes) ? " same" : " other");
}

// A read the device holds, through an unplug and a replug, until the device lets it go.
std::string HeldThroughUnplug(const Exports& e, Device& d)
{
    std::atomic<bool> done{false};
    std::string result;
    std::thread reader([&] {
        result = ReadBack(e, 0x200, 4000);
        done = true;
    });
    bool held = false;
    for (int i = 0; i < 500 && !(held = d.ReadHeld()); ++i)
        Sleep(10);
    d.Knob(VDEV_KNOB_PLUGGED, 0, 0);
    Sleep(300);
    const bool waited = !done;
    d.Knob(VDEV_KNOB_PLUGGED, 1, 0);
    d.Knob(VDEV_KNOB_RELEASE_READ, 0, 0);
    reader.join();
    return std::string(held ? "held" : "not held") + (waited ? ", still held unplugged: " : ", ended unplugged: ") +
           result;
}

const Step kSteps[] = {
    {"open", 0, 0, 0, [](const Exports& e, Device&) { return Outcome(e.create(OPEN_ALL), nullptr, 0); }},
    {"write", 0, 0, 0,
     [](const Exports& e, Device&) {
         std::vector<uint8_t> data = Data(70000);
         uint32_t count = 70000;
         const TransferDesc desc = Desc(0x200, 70000);
         return Outcome(e.write(&desc, data.data(), &count), nullptr, count);
     }},
    {"read", 0, 0, 0, [](const Exports& e, Device&) { return ReadBack(e, 0x200, 70000); }},
    {"verify", 0, 0, 0,
     [](const Exports& e, Device&) {
         uint8_t value[4] = {};
         const TransferDesc desc = Desc(0x200, 4000);
         return Outcome(e.verify(&desc, value), value, 4);
     }},
    {"status", VDEV_KNOB_ERROR_AT_POLL, 1, 0,
     [](const Exports& e, Device&) {
         uint8_t status[8] = {};
         uint32_t count = 8;
         return Outcome(e.status(status, &count), status, count);
     }},
    {"failed read", VDEV_KNOB_FAIL_READ, 2, 0, [](const Exports& e, Device&) { return ReadBack(e, 0x200, 70000); }},
    {"failed write", VDEV_KNOB_FAIL_WRITE, 1, 0,
     [](const Exports& e, Device&) {
         std::vector<uint8_t> data = Data(1000);
         uint32_t count = 1000;
         const TransferDesc desc = Desc(0, 1000);
         return Outcome(e.write(&desc, data.data(), &count), nullptr, count);
     }},
    {"short read", VDEV_KNOB_SHORT_READ, 1, 100, [](const Exports& e, Device&) { return ReadBack(e, 0x200, 4000); }},
    {"held read", VDEV_KNOB_PEND_READ, 1, 0, HeldThroughUnplug},
    {"close", 0, 0, 0, [](const Exports& e, Device&) { return Outcome(e.close(), nullptr, 0); }},
};

// Log records as text, without the paths of opens (the images open different names).
std::vector<std::string> Texts(const std::vector<VdevLogRecord>& log)
{
    std::vector<std::string> texts;
    for (const VdevLogRecord& r : log) {
        std::string text = vdev::Describe(r);
        if (r.type == VDEV_LOG_OPEN)
            text.erase(text.find(" path="));
        texts.push_back(text);
    }
    return texts;
}

struct Outcomes {
    std::vector<std::string> results;
    std::vector<std::vector<std::string>> logs;  // each step's records
};

Outcomes RunSequence(const Exports& e, Device& device)
{
    Outcomes run;
    e.delay(0);
    e.instance(0);
    EXPECT_TRUE(device.Reset());
    for (const Step& step : kSteps) {
        const size_t before = device.Log().size();
        if (step.knob) {
            EXPECT_TRUE(device.Knob(step.knob, step.value, step.value2)) << step.name;
        }
        run.results.push_back(step.call(e, device));
        std::vector<std::string> texts = Texts(device.Log());
        run.logs.emplace_back(texts.begin() + std::min(before, texts.size()), texts.end());
    }
    return run;
}

TEST(SimParity, DriverAndSimulatedDeviceAnswerAlike)
{
    dumptest::ScratchFolder home;
    ASSERT_TRUE(SetEnvironmentVariableA("UXFERSIM_HOME", home.Path().c_str()));
    Exports driverExports{}, simExports{};
    ASSERT_TRUE(Load("uXfer.dll", driverExports));
    ASSERT_TRUE(Load("uXferSim.dll", simExports));
    DriverDevice driver;
    SimDevice sim;
    ASSERT_TRUE(driver.Open()) << "virtual device instance 0 missing: is the test bed up?";
    ASSERT_TRUE(sim.Open(home.Path()));

    const Outcomes d = RunSequence(driverExports, driver);
    const Outcomes s = RunSequence(simExports, sim);
    for (size_t i = 0; i < std::size(kSteps); ++i) {
        SCOPED_TRACE(kSteps[i].name);
        EXPECT_EQ(d.results[i], s.results[i]);
        EXPECT_EQ(d.logs[i], s.logs[i]);
    }
    // A sequence that moved nothing would agree too.
    EXPECT_NE(std::string::npos, d.results[2].find(" same"));
    EXPECT_NE(std::string::npos, d.results[5].find("c0000005"));
    EXPECT_EQ(0u, d.results[std::size(kSteps) - 2].find("held, still held unplugged: 00000000 count=4000"));
    driver.Reset();
    SetEnvironmentVariableA("UXFERSIM_HOME", nullptr);
}

}  // namespace
