#include "session.h"

#include "dump/instance_lock.h"
#include "errors.h"
#include "uXfer.h"

namespace cli {

int DeviceSession::Open(uint32_t flags)
{
    uint32_t result;
    {
        dump::InstanceLock lock;
        if (!lock.Held())
            return Fail(kExitNoDevice, "can't select instance " + std::to_string(instance_) + ": " + lock.Problem());
        uSetInstance(instance_);
        result = connection_.Open(flags);
    }
    if (result == RESULT_OK)
        return kExitOk;
    // After a question the hint is a sentence of its own.
    const std::string problem = dump::OpenFailureText(instance_, loaderVersion_, result);
    return Fail(kExitNoDevice, problem + (problem.back() == '?' ? " " : "; ") + "run 'uxfer list'");
}

int DeviceSession::SendReset()
{
    const uint32_t result = connection_.SendReset();
    if (result != RESULT_OK)
        return Fail(kExitDevice, "the reset command to instance " + std::to_string(instance_) + " failed: " +
                                     ResultText(result) + "; try 'uxfer status' and 'uxfer reset', or --no-reset");
    return kExitOk;
}

}  // namespace cli
