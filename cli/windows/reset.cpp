#include "errors.h"
#include "options.h"
#include "ops/xfer_link.h"
#include "platform.h"

namespace cli {

int SendResetRequest(const CommonOptions& common, uint32_t code)
{
    return Exit(ops::SendResetRequest(common.instance, code, NamesOf(common)));
}

}  // namespace cli
