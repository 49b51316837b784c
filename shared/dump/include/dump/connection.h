// The library's one connection of this process, as a dump uses it: opened
// with uCreate, the reset command sent on it, closed with uClose when its
// owner ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "dump/classes.h"
#include "win/text.h"

namespace dump {


// A device path as lists print it: in lower case, as SetupAPI spells the
// paths it enumerates (a notification may spell one otherwise).
std::string ListedPath(std::string path);

// uSetKVVersion for `loaderVersion`, 0 included: the default class.
void SelectInterfaceClass(uint32_t loaderVersion);

class Connection;

// Selects the class of `loaderVersion` (0: the default) and `instance` and
// opens it on `connection` with `flags` (OPEN_*), under the instance lock.  False when it can't be had: `problem` says why,
// "no device at instance I of interface class {..} (N present): RESULT...;
// run LIST" or the like, `list` the command that lists the instances.
bool OpenInstance(Connection& connection, uint32_t instance, uint32_t loaderVersion, uint32_t flags,
                  const std::string& list, std::string& problem);

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
    // uClose before the owner ends: a transfer the library runs on this
    // thread (called from its progress message) stops at its next chunk.
    void Close();
    // Since Close.
    bool Closed() const { return closed_; }

private:
    AfterFailure afterFailure_;
    bool closeWhenDone_ = false;
    bool closed_ = false;
};

}  // namespace dump
