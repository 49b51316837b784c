// The link of systems without the maker's driver: the USB link
// (usblink/link.h), which speaks the family's protocol over libusb itself.
// The front end opens the device (usblink::Bus::OpenLink, which claims its
// interface: no other program can use it while this one has it) and stops a
// call with usblink::Link::Cancel, which is safe in a signal handler; the
// link adds the call's timeout.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "ops/link.h"
#include "usblink/link.h"

namespace ops {

class UsbLink : public Link {
public:
    explicit UsbLink(usblink::Link& link) : link_(link) {}
    // Stops the timer.
    ~UsbLink() override;

    Claim Lock(int64_t waitSeconds, const std::function<void(const std::string&)>& waiting,
               std::string& problem) override;
    Error Open(uint32_t flags) override;
    bool StartTimer(uint32_t seconds, std::string& problem) override;
    uint64_t Reserve(uint64_t wireBytes, std::string& problem) override;
    Outcome Move(bool read, uint32_t addr, uint32_t bytes, uint32_t mode, const Blocks& blocks,
                 Error& failure) override;
    Outcome ResetCommand() override;
    Outcome Verify(uint32_t addr, uint32_t words, uint32_t mode, uint8_t (&value)[4]) override;
    Outcome Status(uint8_t (&status)[8]) override;

private:
    // The outcome of a link call that returned `result`, having moved `count`.
    Outcome OutcomeOf(const usblink::Result& result, uint32_t count) const;

    usblink::Link& link_;
    mutable std::mutex guard_;
    std::condition_variable ended_;
    bool ending_ = false;
    bool timedOut_ = false;
    std::thread timer_;
};

}  // namespace ops
