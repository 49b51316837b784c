// The library's one connection of this process, as a dump uses it: opened
// with uCreate, the reset command sent on it, closed with uClose when its
// owner ends.
#pragma once

#include <cstdint>

namespace dump {

class Connection {
public:
    // What becomes of a connection whose uCreate or reset command failed:
    // closed all the same, or left for the next uCreate.
    enum class AfterFailure { Close, Leave };

    explicit Connection(AfterFailure afterFailure) : afterFailure_(afterFailure) {}
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // uCreate with the flags (OPEN_*); the library's result.
    uint32_t Open(uint32_t flags);
    // The reset command of a dump (dump_requests.h); the library's result.
    uint32_t SendReset();

private:
    AfterFailure afterFailure_;
    bool closeWhenDone_ = false;
};

}  // namespace dump
