#include "flows.h"

#include <cstdlib>
#include <memory>

#include "dump/connection.h"
#include "dump/dump_requests.h"
#include "dump/file.h"
#include "win/text.h"
#include "dump/wire.h"
#include "framework/file.h"

namespace dump {

namespace {

struct FreeBlock {
    void operator()(uint8_t* block) const { std::free(block); }
};
using Block = std::unique_ptr<uint8_t[], FreeBlock>;

// Zero-filled, so that bytes no file or device delivered are never sent or stored.
Block Allocate(uint32_t bytes)
{
    return Block(static_cast<uint8_t*>(std::calloc(bytes ? bytes : 1, 1)));
}

// The dump file of a Read.  Opened (created when missing) before anything
// else, so that a path that can't be written is reported before the device is
// touched; its old contents are replaced only by a dump that was read, written
// and flushed in full.  A file that the flow created and never filled is
// removed again.  The probe asks for the delete access that moving the new
// dump over the file takes, so that a file another program holds without
// sharing that is refused before the device is touched too.
class DumpTarget {
public:
    explicit DumpTarget(const std::wstring& path) : path_(path) {}
    ~DumpTarget()
    {
        if (created_ && !stored_)
            CFile::Remove(path_);
    }
    DumpTarget(const DumpTarget&) = delete;
    DumpTarget& operator=(const DumpTarget&) = delete;

    bool Open()
    {
        CFile file;
        if (!file.Open(path_, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite | CFile::modeDelete))
            return false;
        created_ = file.Created();
        return true;
    }
    bool Store(const uint8_t* dump, uint32_t size)
    {
        ReplacementFile file(path_, L"vnt");
        stored_ = file.Open() && file.Write(dump, size) && file.Commit();
        return stored_;
    }

private:
    std::wstring path_;
    bool created_ = false;
    bool stored_ = false;
};

}  // namespace

const char* OutcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::OpenFileFailed:
        return "Open file to read failed!";
    case Outcome::AllocFailed:
        return "Allocate memory failed!";
    case Outcome::OpenUsbFailed:
        return "Open USB failed!";
    case Outcome::ResetFailed:
        return "Send reset cmd failed!";
    case Outcome::ReadFailed:
        return "Read file failed!";
    case Outcome::ReadSuccess:
        return "Read file success!";
    case Outcome::WriteFailed:
        return "Write file failed!";
    case Outcome::WriteSuccess:
        return "Write file success!";
    }
    return "";
}

uint32_t ReadDevice(uint32_t addr, uint32_t size, uint32_t mode, uint8_t* dump)
{
    if (!WireFits(size))
        return 1;
    Block wire = Allocate(size * 2);
    if (!wire)
        return 1;
    TransferDesc desc = DeviceDesc(addr, size, mode);
    uint32_t count = 0;
    const uint32_t result = uXferRead(&desc, wire.get(), &count);
    if (result != RESULT_OK)
        return result;
    if (count != desc.length)
        return RESULT_IO_FAILED;
    DumpFromWire(wire.get(), size, dump);
    return 0;
}

uint32_t WriteDevice(uint32_t addr, uint32_t size, uint32_t mode, const uint8_t* dump)
{
    if (!WireFits(size))
        return 1;
    Block wire = Allocate(size * 2);
    if (!wire)
        return 1;
    WireFromDump(dump, size, wire.get());
    TransferDesc desc = DeviceDesc(addr, size, mode);
    uint32_t count = 0;
    const uint32_t result = uXferWrite(&desc, wire.get(), &count);
    if (result != RESULT_OK)
        return result;
    return count == desc.length ? 0 : RESULT_IO_FAILED;
}

void ReadFlow(const DumpSettings& s, Reporter& reporter)
{
    // Declared in reverse order of release: the dump buffer goes first, then
    // a dump file that was created and not filled, then the connection.  A
    // connection whose reset command failed is left for the next uCreate.
    Connection usb(Connection::AfterFailure::Leave);
    DumpTarget target(win::WidePath(s.forWrite));
    if (!target.Open())
        return reporter.Show(Outcome::OpenFileFailed);
    Block dump = WireFits(s.Size) ? Allocate(s.Size) : nullptr;
    if (!dump)
        return reporter.Show(Outcome::AllocFailed);
    if (usb.Open(OPEN_ALL) != RESULT_OK)
        return reporter.Show(Outcome::OpenUsbFailed);
    if (usb.SendReset() != RESULT_OK)
        return reporter.Show(Outcome::ResetFailed);
    const bool read = ReadDevice(s.Addr, s.Size, s.readMode, dump.get()) == 0 && target.Store(dump.get(), s.Size);
    reporter.Show(read ? Outcome::ReadSuccess : Outcome::ReadFailed);
}

void WriteFlow(const DumpSettings& s, Reporter& reporter)
{
    Connection usb(Connection::AfterFailure::Leave);
    Block dump;
    {
        CFile source;
        if (!source.Open(win::WidePath(s.forRead), CFile::modeRead))
            return reporter.Show(Outcome::OpenFileFailed);
        dump = WireFits(s.Size) ? Allocate(s.Size) : nullptr;
        if (!dump)
            return reporter.Show(Outcome::AllocFailed);
        // A short file leaves the rest of the (zero-filled) dump as it is.
        uint32_t got = 0;
        if (!source.Read(dump.get(), s.Size, got))
            return reporter.Show(Outcome::OpenFileFailed);
    }
    if (usb.Open(OPEN_ALL) != RESULT_OK)
        return reporter.Show(Outcome::OpenUsbFailed);
    if (usb.SendReset() != RESULT_OK)
        return reporter.Show(Outcome::ResetFailed);
    const bool written = WriteDevice(s.Addr, s.Size, s.writeMode, dump.get()) == 0;
    reporter.Show(written ? Outcome::WriteSuccess : Outcome::WriteFailed);
}

}  // namespace dump
