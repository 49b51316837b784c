// read and write: both file formats round trip, the dump tool's requests for
// the same settings, verification, progress and standard streams.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/uxfer_run.h"
#include "common/device_log.h"
#include "win/text.h"
#include "flows.h"
#include "settings.h"

using namespace dumptest;

namespace {

class TransferTest : public UxferTest {
protected:
    // What the device was asked and what moved, without status polls.
    struct Traffic {
        std::vector<VendorCall> calls;
        std::vector<PipeTransfer> transfers;
    };
    Traffic TrafficSince(uint32_t first)
    {
        const auto log = device.Log(first);
        return {VendorCalls(log), PipeTransfers(log)};
    }
    uint32_t NextSeq()
    {
        VdevInfo info;
        EXPECT_TRUE(device.Info(info));
        return info.logNext;
    }
    void ExpectSameTraffic(const Traffic& vantor, const Traffic& tool)
    {
        ASSERT_EQ(vantor.calls.size(), tool.calls.size());
        for (size_t i = 0; i < vantor.calls.size(); ++i) {
            EXPECT_EQ(vantor.calls[i].request, tool.calls[i].request) << "request " << i;
            EXPECT_EQ(vantor.calls[i].value, tool.calls[i].value) << "request " << i;
            EXPECT_EQ(vantor.calls[i].index, tool.calls[i].index) << "request " << i;
            EXPECT_EQ(vantor.calls[i].stage, tool.calls[i].stage) << "request " << i;
        }
        ASSERT_EQ(vantor.transfers.size(), tool.transfers.size());
        for (size_t i = 0; i < vantor.transfers.size(); ++i) {
            EXPECT_EQ(vantor.transfers[i].type, tool.transfers[i].type) << "transfer " << i;
            EXPECT_EQ(vantor.transfers[i].requested, tool.transfers[i].requested) << "transfer " << i;
            EXPECT_EQ(vantor.transfers[i].moved, tool.transfers[i].moved) << "transfer " << i;
            EXPECT_EQ(vantor.transfers[i].head, tool.transfers[i].head) << "transfer " << i;
        }
    }
};

class SilentReporter : public dump::Reporter {
public:
    void Show(dump::Outcome outcome) override { shown = outcome; }
    dump::Outcome shown = dump::Outcome::OpenFileFailed;
};

TEST_F(TransferTest, ReadKeepsTheFirstByteOfEachWordAfterTheResetCommand)
{
    const std::vector<uint8_t> wire = Pattern(2 * 300, 1);
    LoadWords(0x40, wire);
    UxferResult read = RunUxfer("read " + Quoted(File("dump.bin")) + " --addr 0x40 --size 300 --mode 0xFFFF");
    EXPECT_EQ(0u, read.exitCode) << read.err;
    EXPECT_EQ(DumpOf(wire), ReadAll(File("dump.bin")));
    EXPECT_EQ("read 300 bytes (600 on the wire) from instance 0, address 0x40 into " + File("dump.bin") + "\n",
              read.out);
    EXPECT_EQ("", read.err);

    const auto calls = VendorCalls(device.Log());
    ASSERT_EQ(2u, calls.size()) << Dump(device.Log());
    EXPECT_EQ(REQ_DEBUG, calls[0].request);
    EXPECT_EQ(Words({12}), calls[0].stage);
    EXPECT_EQ(REQ_READ, calls[1].request);
    EXPECT_EQ(1, calls[1].value);
    EXPECT_EQ(0xFFFF, calls[1].index);
    EXPECT_EQ(Words({0, 0x40, 150}), calls[1].stage);
    const auto transfers = PipeTransfers(device.Log());
    ASSERT_EQ(2u, transfers.size());
    EXPECT_EQ(ByteList({5, 0, 0, 0, 0xFF, 0xFF, 5, 0, 0, 0, 0xFF, 0xFF}), transfers[0].head);
    EXPECT_EQ(600u, transfers[1].moved);
    EXPECT_EQ(1u, CountType(device.Log(), VDEV_LOG_CLOSE) / 3) << "the connection is closed at the end";
}

TEST_F(TransferTest, BothFileFormatsRoundTrip)
{
    const std::vector<uint8_t> dump = Pattern(70000, 2);  // two chunks on the wire and a bit
    ASSERT_TRUE(WriteAll(File("image.bin"), dump));
    UxferResult write = RunUxfer("write " + Quoted(File("image.bin")) + " --addr 0x100");
    EXPECT_EQ(0u, write.exitCode) << write.err;
    EXPECT_EQ(WireOf(dump), DeviceBytes(0x100, 2 * 70000));
    UxferResult read = RunUxfer("read " + Quoted(File("back.bin")) + " --addr 0x100 --size 70000 --json");
    EXPECT_EQ(0u, read.exitCode) << read.err;
    EXPECT_EQ(dump, ReadAll(File("back.bin")));
    EXPECT_NE(read.out.find("\"wire_bytes\":140000"), std::string::npos) << read.out;
    EXPECT_NE(read.out.find("\"raw\":false"), std::string::npos) << read.out;
    // An odd size moves one word more.
    read = RunUxfer("read " + Quoted(File("back.bin")) + " --size 777 --json");
    EXPECT_NE(read.out.find("\"wire_bytes\":1556"), std::string::npos) << read.out;

    // Raw: the words as they are, two file bytes each; the file's length gives the size.
    const std::vector<uint8_t> raw = Pattern(2 * 5000, 3);
    ASSERT_TRUE(WriteAll(File("image.raw"), raw));
    write = RunUxfer("write " + Quoted(File("image.raw")) + " --raw --addr 0x20 --quiet");
    EXPECT_EQ(0u, write.exitCode) << write.err;
    EXPECT_EQ("", write.out);
    EXPECT_EQ(raw, DeviceBytes(0x20, raw.size()));
    read = RunUxfer("read " + Quoted(File("back.raw")) + " --raw --addr 0x20 --size 5000");
    EXPECT_EQ(0u, read.exitCode) << read.err;
    EXPECT_EQ(raw, ReadAll(File("back.raw")));

    // Standard streams: a write from standard input, a read to standard output (no summary then).
    write = RunUxfer("write - --addr 0 --size 4", File("image.bin"));
    EXPECT_EQ(0u, write.exitCode) << write.err;
    EXPECT_EQ(WireOf({dump[0], dump[1], dump[2], dump[3]}), DeviceBytes(0, 8));
    read = RunUxfer("read - --addr 0x20 --size 16 --raw");
    EXPECT_EQ(0u, read.exitCode) << read.err;
    EXPECT_EQ(std::string(raw.begin(), raw.begin() + 32), read.out);
}

// A verified write from standard input, a pipe whose writer stays: uxfer reads
// what --size needs and no more, or stops at Ctrl+C while it waits for more.
struct StdinCase {
    const char* name;
    uint32_t given;  // bytes in the pipe before uxfer waits; it needs 8
    DWORD exitCode;
    const char* err;
};

void PrintTo(const StdinCase& c, std::ostream* os)
{
    *os << c.name;
}

class StdinTest : public UxferTest, public testing::WithParamInterface<StdinCase> {};

TEST_P(StdinTest, ReadsNoFurtherThanTheSizeAndStopsAtCtrlC)
{
    const StdinCase& c = GetParam();
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE reader = nullptr, writer = nullptr;
    ASSERT_TRUE(CreatePipe(&reader, &writer, &inherit, 0));
    win::unique_handle readEnd(reader), writeEnd(writer);
    SetHandleInformation(writer, HANDLE_FLAG_INHERIT, 0);
    const std::vector<uint8_t> image = Pattern(c.given, 9);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, image.data(), c.given, &written, nullptr));

    // A console of its own without a window, for the control event.
    UxferProcess write;
    ASSERT_TRUE(write.StartFromPipe("write - --size 8 --verify", reader, CREATE_NO_WINDOW));
    DWORD left = c.given;
    if (c.exitCode == 130) {
        // Once the pipe is empty, uxfer waits for the rest.
        for (int i = 0; i < 1200 && PeekNamedPipe(reader, nullptr, 0, nullptr, &left, nullptr) && left; ++i)
            Sleep(50);
        ASSERT_EQ(0u, left) << "uxfer never took what the pipe held";
        EXPECT_EQ(0u, RunProgram("cli_ctrl_c.exe", std::to_string(write.Id()), 60000).exitCode);
    }
    const UxferResult result = write.Wait(60000);
    ASSERT_TRUE(result.finished) << "uxfer still waits for standard input";
    EXPECT_EQ(c.exitCode, result.exitCode) << result.err;
    EXPECT_EQ(c.err, result.err);
    if (c.exitCode == 0) {
        EXPECT_EQ(WireOf(std::vector<uint8_t>(image.begin(), image.begin() + 8)), DeviceBytes(0, 16));
        ASSERT_TRUE(PeekNamedPipe(reader, nullptr, 0, nullptr, &left, nullptr));
        EXPECT_EQ(c.given - 8, left) << "what the write doesn't need stays in the pipe";
    } else {
        EXPECT_TRUE(device.Log().empty()) << Dump(device.Log());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StdinTest,
                         testing::Values(StdinCase{"MoreThanTheSize", 12, 0, ""},
                                         StdinCase{"CtrlCWhileWaitingForMore", 4, 130,
                                                   "uxfer: cancelled while reading standard input\n"}),
                         [](const testing::TestParamInfo<StdinCase>& info) { return std::string(info.param.name); });

TEST_F(TransferTest, ReadReplacesTheOldFileOnlyWhenItSucceeded)
{
    ASSERT_TRUE(WriteAll(File("dump.bin"), {1, 2, 3}));
    ASSERT_TRUE(device.FailRead(1));  // the first data chunk; the reset command went out as a write
    UxferResult failed = RunUxfer("read " + Quoted(File("dump.bin")) + " --size 100");
    EXPECT_EQ(3u, failed.exitCode);
    EXPECT_NE(failed.err.find("RESULT_IO_FAILED (0xC0000005)"), std::string::npos) << failed.err;
    EXPECT_EQ(ByteList({1, 2, 3}), ReadAll(File("dump.bin")));
    EXPECT_EQ(std::vector<std::string>{"dump.bin"}, ScratchFiles());

    UxferResult read = RunUxfer("read " + Quoted(File("dump.bin")) + " --size 100");
    EXPECT_EQ(0u, read.exitCode) << read.err;
    EXPECT_EQ(std::vector<uint8_t>(100, 0), ReadAll(File("dump.bin")));
}

TEST_F(TransferTest, ShortFileIsRefusedUnlessPadded)
{
    ASSERT_TRUE(WriteAll(File("short.bin"), {9, 8, 7}));
    UxferResult refused = RunUxfer("write " + Quoted(File("short.bin")) + " --size 6");
    EXPECT_EQ(1u, refused.exitCode);
    EXPECT_NE(refused.err.find("3"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("6"), std::string::npos) << refused.err;
    EXPECT_TRUE(device.Log().empty()) << Dump(device.Log());

    UxferResult padded = RunUxfer("write " + Quoted(File("short.bin")) + " --size 6 --pad");
    EXPECT_EQ(0u, padded.exitCode) << padded.err;
    EXPECT_EQ(WireOf({9, 8, 7, 0, 0, 0}), DeviceBytes(0, 12));
}

TEST_F(TransferTest, SettingsFileGivesTheDumpToolsRequests)
{
    const std::vector<uint8_t> image = Pattern(3000, 4);
    ASSERT_TRUE(WriteAll(File("in.bin"), image));
    const std::string ini = "[Dump]\r\nforRead=" + File("in.bin") + "\r\nforWrite=" + File("out.bin") +
                            "\r\nSize=3000\r\nAddr=0x30\r\nreadMode=65538\r\nwriteMode=7\r\n";
    ASSERT_TRUE(WriteAll(File("DumpSet.ini"), std::vector<uint8_t>(ini.begin(), ini.end())));
    const dump::DumpSettings settings = dump::LoadSettings(win::WidePath(File("DumpSet.ini")));
    ASSERT_EQ(3000u, settings.Size);

    // Vantor's Write, then uxfer's, from the same settings.
    uint32_t first = NextSeq();
    SilentReporter vantorWrite;
    dump::WriteFlow(settings, vantorWrite);
    ASSERT_EQ(dump::Outcome::WriteSuccess, vantorWrite.shown);
    const Traffic vantor = TrafficSince(first);
    ASSERT_TRUE(device.Reset());
    first = NextSeq();
    UxferResult write = RunUxfer("write --settings " + Quoted(File("DumpSet.ini")));
    EXPECT_EQ(0u, write.exitCode) << write.err;
    ExpectSameTraffic(vantor, TrafficSince(first));
    EXPECT_EQ(WireOf(image), DeviceBytes(0x30, 6000));

    // The same for Read.
    first = NextSeq();
    SilentReporter vantorRead;
    dump::ReadFlow(settings, vantorRead);
    ASSERT_EQ(dump::Outcome::ReadSuccess, vantorRead.shown);
    const Traffic vantorReads = TrafficSince(first);
    ASSERT_TRUE(DeleteFileA(File("out.bin").c_str()));
    first = NextSeq();
    UxferResult read = RunUxfer("read --settings " + Quoted(File("DumpSet.ini")));
    EXPECT_EQ(0u, read.exitCode) << read.err;
    const Traffic tool = TrafficSince(first);
    ExpectSameTraffic(vantorReads, tool);
    EXPECT_EQ(image, ReadAll(File("out.bin")));
    ASSERT_EQ(2u, tool.calls.size());
    EXPECT_EQ(2, tool.calls[1].index) << "only the low 16 bits of readMode travel";

    // Options on the line win; --no-reset leaves the reset command out.
    first = NextSeq();
    read = RunUxfer("read " + Quoted(File("other.bin")) + " --settings " + Quoted(File("DumpSet.ini")) +
                    " --size 8 --no-reset");
    EXPECT_EQ(0u, read.exitCode) << read.err;
    const Traffic options = TrafficSince(first);
    ASSERT_EQ(1u, options.calls.size());
    EXPECT_EQ(REQ_READ, options.calls[0].request);
    EXPECT_EQ(Words({0, 0x30, 4}), options.calls[0].stage);
    EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 8), ReadAll(File("other.bin")));
}

TEST_F(TransferTest, WriteVerifiesByReadingBack)
{
    const std::vector<uint8_t> image = Pattern(500, 5);
    ASSERT_TRUE(WriteAll(File("in.bin"), image));
    UxferResult write = RunUxfer("write " + Quoted(File("in.bin")) + " --addr 8 --verify");
    EXPECT_EQ(0u, write.exitCode) << write.err;
    EXPECT_NE(write.out.find("verified"), std::string::npos) << write.out;
    const auto calls = VendorCalls(device.Log());
    ASSERT_EQ(4u, calls.size()) << Dump(device.Log());
    EXPECT_EQ(REQ_WRITE, calls[1].request);
    EXPECT_EQ(REQ_READ, calls[3].request);
    EXPECT_EQ(Words({0, 8, 250}), calls[3].stage);

    write = RunUxfer("write " + Quoted(File("in.bin")) + " --addr 8 --verify --json");
    EXPECT_NE(write.out.find("\"verified\":true"), std::string::npos) << write.out;
}

TEST_F(TransferTest, HexDumpShowsAddressWordsAndCharacters)
{
    const std::string text = "0123456789ABCDEF\x01Z";
    LoadWords(0x40, WireOf(std::vector<uint8_t>(text.begin(), text.end())));
    UxferResult read = RunUxfer("read - --addr 0x40 --size 18 --hex");
    EXPECT_EQ(0u, read.exitCode) << read.err;
    EXPECT_EQ("00000040  30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46  0123456789ABCDEF\n"
              "00000050  01 5A" + std::string(14 * 3, ' ') + "  .Z\n",
              read.out);
    read = RunUxfer("read - --addr 0x40 --size 10 --raw --hex");
    EXPECT_EQ(0u, read.exitCode) << read.err;
    EXPECT_EQ("00000040  FF30 FF31 FF32 FF33 FF34 FF35 FF36 FF37  0.1.2.3.4.5.6.7.\n"
              "00000048  FF38 FF39" + std::string(6 * 5, ' ') + "  8.9.\n",
              read.out);
}

TEST_F(TransferTest, ProgressReachesTheWholeLength)
{
    UxferResult read = RunUxfer("read " + Quoted(File("dump.bin")) + " --size 300K --progress");
    EXPECT_EQ(0u, read.exitCode) << read.err;
    // Drawn a few times a second and at the end, never going back.
    std::vector<int> percents;
    for (size_t at = read.err.find('\r'); at != std::string::npos; at = read.err.find('\r', at + 1))
        percents.push_back(std::atoi(read.err.c_str() + at + 1));
    ASSERT_FALSE(percents.empty()) << read.err;
    EXPECT_EQ(100, percents.back()) << read.err;
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << read.err;
    EXPECT_EQ('\n', read.err.back());
    EXPECT_NE(read.err.find("MiB/s"), std::string::npos) << read.err;
    EXPECT_NE(read.err.find("left"), std::string::npos) << read.err;

    // Not with --quiet or --json, and not when standard error is no console.
    EXPECT_EQ("", RunUxfer("read " + Quoted(File("dump.bin")) + " --size 300K --progress --quiet").err);
    EXPECT_EQ("", RunUxfer("read " + Quoted(File("dump.bin")) + " --size 300K --progress --json").err);
    EXPECT_EQ("", RunUxfer("read " + Quoted(File("dump.bin")) + " --size 300K").err);
}

}  // namespace
