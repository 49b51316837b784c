#include "session.h"

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
    const uint32_t result = connection_.SendReset();
    if (result != RESULT_OK)
        return Fail(kExitDevice, "the reset command to instance " + std::to_string(instance_) + " failed: " +
                                     ResultText(result) + "; try 'uxfer status' and 'uxfer reset', or --no-reset");
    return kExitOk;
}

}  // namespace cli
