#include "devicemodel/records.h"

#include <cstdio>
#include <cstring>

namespace vdev {

namespace {

uint32_t StageWord(const VdevLogRecord& r, unsigned index)
{
    const unsigned at = sizeof(VendorCommandBlock) + 4u * index;
    return static_cast<uint32_t>(r.data[at] | (r.data[at + 1] << 8) | (r.data[at + 2] << 16) |
                                 (static_cast<uint32_t>(r.data[at + 3]) << 24));
}

// A vendor request in words: the request, its value and index, and what its
// data stage asks for.
int DescribeRequest(const VdevLogRecord& r, char* line, size_t room)
{
    if (r.a != IOCTL_VENDOR_REQUEST || r.inLen < sizeof(VendorCommandBlock))
        return 0;
    VendorCommandBlock block;
    std::memcpy(&block, r.data, sizeof block);
    const unsigned stage = r.dataLen > r.inLen ? r.dataLen - r.inLen : 0;
    const char* name = "request";
    switch (block.bRequest) {
    case REQ_READ:
        name = "READ";
        break;
    case REQ_WRITE:
        name = "WRITE";
        break;
    case REQ_STATUS:
        name = "STATUS";
        break;
    case REQ_RESET:
        name = "RESET";
        break;
    case REQ_DEBUG:
        name = "DEBUG";
        break;
    }
    int n = std::snprintf(line, room, " %s(%#x) value=%#x index=%#x", name, block.bRequest, block.wValue, block.wIndex);
    if (block.bRequest == REQ_READ && stage >= READ_STAGE_SIZE)
        n += std::snprintf(line + n, room - n, " word_addr=%#x units=%u", StageWord(r, 1), StageWord(r, 2));
    else if (block.bRequest == REQ_WRITE && stage >= WRITE_STAGE_SIZE)
        n += std::snprintf(line + n, room - n, " word_addr=%#x units=%u", StageWord(r, 2), StageWord(r, 3));
    else if (block.bRequest == REQ_DEBUG && stage == VERIFY_STAGE_SIZE)
        n += std::snprintf(line + n, room - n, " verify word_addr=%#x units=%u", StageWord(r, 0), StageWord(r, 1));
    else if (block.bRequest == REQ_DEBUG && stage == DEBUG_STAGE_SIZE)
        n += std::snprintf(line + n, room - n, " length=%u", StageWord(r, 0));
    return n;
}

const char* Outcome(uint32_t status)
{
    switch (status) {
    case 0:
        return "ok";
    case 0xC0000120u:
        return "cancelled";
    default:
        return "failed";
    }
}

}  // namespace

KnobList Knobs()
{
#define VDEV_KNOB_ENTRY(name, values) {#name, VDEV_KNOB_##name, values},
    static const KnobName knobs[] = {VDEV_KNOB_NAMES(VDEV_KNOB_ENTRY)};
#undef VDEV_KNOB_ENTRY
    return {knobs, sizeof knobs / sizeof knobs[0]};
}

std::string Describe(const VdevLogRecord& r)
{
    static const char* const kTypes[] = {"?", "OPEN", "CLOSE", "CONTROL", "READ", "WRITE", "RESET"};
    static const char* const kPipes[] = {"PIPE0", "PIPE1", "control"};
    char line[640];
    int n = std::snprintf(line, sizeof line, "#%u %s %s a=%#x b=%#x c=%#x", r.seq, r.type < 7 ? kTypes[r.type] : "?",
                          r.pipe < 3 ? kPipes[r.pipe] : "?", r.a, r.b, r.c);
    if (r.type == VDEV_LOG_CONTROL || r.type == VDEV_LOG_READ || r.type == VDEV_LOG_WRITE || r.type == VDEV_LOG_OPEN)
        n += std::snprintf(line + n, sizeof line - n, " %s", Outcome(r.c));
    if (r.type == VDEV_LOG_CONTROL)
        n += DescribeRequest(r, line + n, sizeof line - n);
    if (r.type == VDEV_LOG_READ || r.type == VDEV_LOG_WRITE)
        n += std::snprintf(line + n, sizeof line - n, " moved=%u of %u", r.b, r.a);
    if (r.type == VDEV_LOG_OPEN) {
        std::snprintf(line + n, sizeof line - n, " path=%.*s", r.dataLen, reinterpret_cast<const char*>(r.data));
    } else {
        for (unsigned i = 0; i < r.dataLen && i < 40 && n < static_cast<int>(sizeof line) - 4; ++i)
            n += std::snprintf(line + n, sizeof line - n, "%s%02x", i == r.inLen && i ? " | " : " ", r.data[i]);
    }
    return line;
}

}  // namespace vdev
