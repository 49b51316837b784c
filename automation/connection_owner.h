// The device connection of the process.  uXfer.dll keeps one connection a
// process, so one object at a time holds it: another object's Open fails
// until the holder closes it (or goes away).  A holder runs one request at a
// time on it; a call from a second thread, or from a handler of its events,
// while one runs is refused rather than interleaved on the one pipe.
#pragma once

#include <cstdint>

#include "dump/connection.h"
#include "failure.h"
#include "ops/error.h"

namespace automation {

// `holder`: the object asking.  Opens `instance` of the class of
// `loaderVersion` (0: the default), closing what it held before.
Failure OpenConnection(const void* holder, uint32_t instance, uint32_t loaderVersion);
// Nothing happens unless `holder` holds the connection; refused while one of
// its transfers runs.
Failure CloseConnection(const void* holder);
bool HoldsConnection(const void* holder);
// The instance opened last (0 before any), the one Reset goes to.
uint32_t LastInstance();
// The loader version opened last (0: the default), whose class Devices lists.
uint32_t LastLoaderVersion();

// Whether this server's library is uXferSim.dll: the simulated devices.
bool Simulated();

// `names` with the device of `instance` and `loaderVersion` (0: the
// default) as uxfer's options would choose it, for the uxfer commands the
// object's sentences advise.
ops::Names NamesOf(ops::Names names, uint32_t instance, uint32_t loaderVersion);

// The connection in use for one request of `holder`, opened on instance 0 of
// the last loader version first when it holds none.
class ConnectionUse {
public:
    explicit ConnectionUse(const void* holder);
    ~ConnectionUse();
    ConnectionUse(const ConnectionUse&) = delete;
    ConnectionUse& operator=(const ConnectionUse&) = delete;

    // Set when the connection can't be used; then nothing else may be called.
    const Failure& Problem() const { return problem_; }
    uint32_t Instance() const;
    dump::Connection& Connection() const;

private:
    Failure problem_;
    bool inUse_ = false;
};

}  // namespace automation
