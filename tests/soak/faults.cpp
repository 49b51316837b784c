#include "soak/faults.h"

#include "usb_protocol.h"
#include "vdev_backchannel.h"

namespace soak {

const Fault kFaults[] = {
    // A held read is let go by a reset request, which a failing control request could swallow.
    {"failed control request", kFailControl, VDEV_KNOB_FAIL_CONTROL,
     [](Rng& rng, uint32_t&, uint32_t& value2) {
         static const uint8_t requests[] = {0, 0, REQ_READ, REQ_WRITE, REQ_STATUS, REQ_RESET, REQ_DEBUG};
         value2 = requests[rng.Below(sizeof requests)];
     },
     kPendRead, false},
    {"failed read", kFailRead, VDEV_KNOB_FAIL_READ, nullptr, 0, false},
    {"failed write", kFailWrite, VDEV_KNOB_FAIL_WRITE, nullptr, 0, false},
    {"short read", kShortRead, VDEV_KNOB_SHORT_READ,
     [](Rng& rng, uint32_t&, uint32_t& value2) { value2 = rng.Percent(50) ? rng.Below(64) : rng.Below(70000); }, 0,
     false},
    {"held read", kPendRead, VDEV_KNOB_PEND_READ, [](Rng& rng, uint32_t& value, uint32_t&) { value = rng.Range(1, 2); },
     kFailControl, true},
    {"active polls", kActivePolls, VDEV_KNOB_ACTIVE_POLLS, nullptr, 0, false},
    {"error at poll", kErrorAtPoll, VDEV_KNOB_ERROR_AT_POLL,
     [](Rng& rng, uint32_t& value, uint32_t&) { value = rng.Range(1, 8); }, 0, false},
    {"pending driver state", kPendingPolls, VDEV_KNOB_PENDING_POLLS, nullptr, 0, false},
    {"failed driver-state request", kFailDriverState, VDEV_KNOB_FAIL_DRIVER_STATE, nullptr, 0, false},
};
const size_t kFaultKinds = sizeof kFaults / sizeof *kFaults;

}  // namespace soak
