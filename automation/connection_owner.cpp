#include "connection_owner.h"

#include <memory>
#include <mutex>

#include "dump/connection.h"
#include "ops/xfer_link.h"
#include "server_class.h"
#include "uXfer.h"
#include "uXferAuto.h"
#include "xferlib/uxfer_library.h"

namespace automation {

namespace {

std::mutex guard;
const void* holderOf = nullptr;
std::unique_ptr<dump::Connection> connection;
uint32_t openInstance = 0;
uint32_t openLoaderVersion = 0;
bool busy = false;

Failure HeldByAnother()
{
    return Fail(UXA_E_NO_DEVICE, "the device connection of this process is held by another uXfer.Device object "
                                 "(uXfer.dll keeps one connection a process); Close that one first");
}

Failure Busy()
{
    // On another thread, or this one: a handler of the transfer's own events.
    return Fail(UXA_E_NO_DEVICE, "a transfer of this object is running; wait for it to end, or Cancel it");
}

// With `guard` held.
Failure OpenLocked(const void* holder, uint32_t instance, uint32_t loaderVersion)
{
    connection.reset();
    holderOf = nullptr;
    auto opened = std::make_unique<dump::Connection>(dump::Connection::AfterFailure::Close);
    if (const ops::Error error =
            ops::Open(*opened, instance, loaderVersion, OPEN_ALL, NamesOf({}, instance, loaderVersion))) {
        // Reset, Cancel and Devices stay with the instance and class opened last.
        dump::SelectInterfaceClass(openLoaderVersion);
        return FromError(error);
    }
    connection = std::move(opened);
    holderOf = holder;
    openInstance = instance;
    openLoaderVersion = loaderVersion;
    return {};
}

}  // namespace

bool Simulated()
{
    return ServedClass().library == xferlib::kUxferSim;
}

ops::Names NamesOf(ops::Names names, uint32_t instance, uint32_t loaderVersion)
{
    names.simulate = Simulated();
    names.instance = instance;
    names.loaderVersion = loaderVersion;
    return names;
}

Failure OpenConnection(const void* holder, uint32_t instance, uint32_t loaderVersion)
{
    std::lock_guard<std::mutex> lock(guard);
    if (holderOf && holderOf != holder)
        return HeldByAnother();
    if (busy)
        return Busy();
    return OpenLocked(holder, instance, loaderVersion);
}

Failure CloseConnection(const void* holder)
{
    std::lock_guard<std::mutex> lock(guard);
    if (holderOf != holder)
        return {};
    if (busy)
        return Busy();
    connection.reset();
    holderOf = nullptr;
    return {};
}

bool HoldsConnection(const void* holder)
{
    std::lock_guard<std::mutex> lock(guard);
    return holderOf == holder;
}

uint32_t LastInstance()
{
    std::lock_guard<std::mutex> lock(guard);
    return openInstance;
}

uint32_t LastLoaderVersion()
{
    std::lock_guard<std::mutex> lock(guard);
    return openLoaderVersion;
}

ConnectionUse::ConnectionUse(const void* holder)
{
    std::lock_guard<std::mutex> lock(guard);
    if (holderOf && holderOf != holder)
        problem_ = HeldByAnother();
    else if (busy)
        problem_ = Busy();
    else if (!holderOf)
        problem_ = OpenLocked(holder, 0, openLoaderVersion);
    else if (connection->Closed())  // by a transfer that failed in its own handler
        problem_ = OpenLocked(holder, openInstance, openLoaderVersion);
    if (problem_)
        return;
    busy = true;
    inUse_ = true;
}

ConnectionUse::~ConnectionUse()
{
    if (!inUse_)
        return;
    std::lock_guard<std::mutex> lock(guard);
    busy = false;
}

uint32_t ConnectionUse::Instance() const
{
    return openInstance;
}

dump::Connection& ConnectionUse::Connection() const
{
    return *connection;
}

}  // namespace automation
