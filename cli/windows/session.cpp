// The call's link on Windows: the library's connection of this process and
// the link over it.
#include "session.h"

#include "cancel.h"
#include "dump/connection.h"
#include "errors.h"
#include "options.h"
#include "ops/xfer_link.h"
#include "uXfer.h"

namespace cli {

struct DeviceCall::Device {
    dump::Connection connection{dump::Connection::AfterFailure::Close};
    std::optional<ops::XferLink> link;
};

void DeviceCall::DeviceDeleter::operator()(Device* device) const
{
    delete device;
}

int DeviceCall::Open(Opens opens)
{
    device_.reset(new Device);
    device_->link.emplace(ConsoleBreak::Switch(), device_->connection, common_.instance, settings_, names_);
    operation_.emplace(*device_->link, common_.instance, settings_, names_);
    // An event before the call began found nothing to stop.
    if (ConsoleBreak::Requested())
        return Exit(ops::Fail(ops::Kind::Cancelled, "cancelled"));
    return Exit(operation_->Open(opens == Opens::AllPipes ? OPEN_ALL : OPEN_CONTROL));
}

}  // namespace cli
