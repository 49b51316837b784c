#include "soak/device_twin.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "vdev_client.h"

namespace soak {

namespace {

constexpr uint32_t kStatusCancelled = 0xC0000120;
constexpr uint32_t kStatusNotFound = 0xC0000034;

std::string Disagree(const VdevLogRecord& record, const char* format, uint32_t model)
{
    char text[160];
    std::snprintf(text, sizeof text, format, model);
    return "the device's " + vdev::Describe(record) + ", the model's " + text;
}

}  // namespace

const char* const kHitNames[kHits] = {"failed control", "failed read", "failed write", "short read",
                                      "held read",      "refused open", "error status"};

DeviceTwin::DeviceTwin()
{
    ready_ = ModelInit(&model_, 0) == MODEL_OK;
}

DeviceTwin::~DeviceTwin()
{
    if (ready_)
        ModelFree(&model_);
}

void DeviceTwin::Reset()
{
    ModelReset(&model_);
    next_ = 0;
}

bool DeviceTwin::Knob(uint32_t id, uint32_t value, uint32_t value2)
{
    const VdevKnob knob{id, value, value2};
    return ModelKnob(&model_, &knob) == MODEL_OK;
}

std::string DeviceTwin::Follow(const std::vector<VdevLogRecord>& log)
{
    for (const VdevLogRecord& record : log) {
        if (record.seq < next_)
            continue;
        if (record.seq != next_)
            return "the device's log lost records " + std::to_string(next_) + " to " + std::to_string(record.seq);
        ++next_;
        std::string problem = Replay(record);
        if (!problem.empty())
            return problem;
    }
    return "";
}

std::string DeviceTwin::Replay(const VdevLogRecord& r)
{
    switch (r.type) {
    case VDEV_LOG_OPEN: {
        const bool refused = ModelOpenFails(&model_, r.pipe) != 0;
        hits[kHitOpen] += refused;
        if (r.c != (refused ? kStatusNotFound : 0))
            return Disagree(r, "open status %08X", refused ? kStatusNotFound : 0);
        return "";
    }
    case VDEV_LOG_CONTROL: {
        // The data stage goes in as logged: what the host sent, for an IN
        // request overwritten by the model's answer.
        const uint32_t outSize = r.b;
        std::vector<uint8_t> stage(outSize);
        std::memcpy(stage.data(), r.data + r.inLen, std::min<uint32_t>(outSize, r.dataLen - r.inLen));
        uint32_t moved = 0;
        const ModelStatus status = ModelControl(&model_, r.a, r.data, r.inLen, outSize ? stage.data() : nullptr,
                                                outSize, &moved);
        // Only a fault knob fails a well-formed request.
        hits[kHitControl] += status == MODEL_FAILED;
        if (static_cast<uint32_t>(status) != r.c)
            return Disagree(r, "status %08X", static_cast<uint32_t>(status));
        const uint32_t answered = std::min<uint32_t>(moved, r.dataLen - r.inLen);
        if (status == MODEL_OK && std::memcmp(stage.data(), r.data + r.inLen, answered) != 0)
            return Disagree(r, "answer with first byte %02X", answered ? stage[0] : 0);
        if (r.a == IOCTL_VENDOR_REQUEST && r.inLen >= 5 && r.data[4] == REQ_STATUS && status == MODEL_OK)
            hits[kHitStatusError] += (stage[0] & STATUS_ERROR) != 0;
        return "";
    }
    case VDEV_LOG_READ: {
        std::vector<uint8_t> buffer(r.a ? r.a : 1);
        uint32_t moved = 0, status = 0;
        switch (ModelPlanRead(&model_)) {
        case READ_FAIL:
            ++hits[kHitRead];
            status = static_cast<uint32_t>(MODEL_FAILED);
            break;
        case READ_HOLD:
            // A reset or cancel ends it unmoved.
            ++hits[kHitHeldRead];
            if (r.c == kStatusCancelled)
                return r.b ? Disagree(r, "%u bytes for a cancelled held read", 0) : "";
            [[fallthrough]];  // released: it runs as any other read
        case READ_NORMAL: {
            const uint32_t limit = ModelReadLimit(&model_, r.a);
            hits[kHitShortRead] += limit < r.a;
            moved = ModelPipeRead(&model_, buffer.data(), limit);
            break;
        }
        }
        if (r.c != status || r.b != moved)
            return Disagree(r, "read moving %u bytes", status ? 0 : moved);
        return "";
    }
    case VDEV_LOG_WRITE: {
        // Only the first bytes are logged: the model's memory is never looked at.
        std::vector<uint8_t> buffer(r.a ? r.a : 1);
        std::memcpy(buffer.data(), r.data, std::min<uint32_t>(r.a, r.dataLen));
        const bool fails = ModelWriteFails(&model_) != 0;
        hits[kHitWrite] += fails;
        uint32_t moved = 0;
        const bool failed = fails || ModelPipeWrite(&model_, buffer.data(), r.a, &moved) != MODEL_OK;
        if ((r.c != 0) != failed || r.b != moved)
            return Disagree(r, failed ? "failed write (%u)" : "write moving %u bytes", moved);
        return "";
    }
    default:
        return "";
    }
}

}  // namespace soak
