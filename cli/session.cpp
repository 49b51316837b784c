#include "session.h"

#include "cancel.h"
#include "errors.h"
#include "uXfer.h"

namespace cli {

int DeviceSession::Open(uint32_t flags)
{
    std::string problem;
    if (!dump::OpenInstance(connection_, instance_, loaderVersion_, flags, problem))
        return Fail(kExitNoDevice, problem);
    return kExitOk;
}

int DeviceSession::SendReset()
{
    uint32_t result = RESULT_OK;
    if (const int code = RunCancellable([&] {
            result = connection_.SendReset();
            return result == RESULT_OK;
        }))
        return code;
    if (result != RESULT_OK)
        return Fail(kExitDevice, "the reset command to instance " + std::to_string(instance_) + " failed: " +
                                     ResultText(result) + "; try 'uxfer status' and 'uxfer reset', or --no-reset");
    return kExitOk;
}

}  // namespace cli
