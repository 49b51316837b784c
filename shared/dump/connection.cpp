#include "dump/connection.h"

#include "dump/dump_requests.h"
#include "uXfer.h"

namespace dump {

Connection::~Connection()
{
    if (closeWhenDone_)
        uClose();
}

uint32_t Connection::Open(uint32_t flags)
{
    const uint32_t result = uCreate(flags);
    closeWhenDone_ = result == RESULT_OK || afterFailure_ == AfterFailure::Close;
    closed_ = false;
    return result;
}

void Connection::Close()
{
    uClose();
    closeWhenDone_ = false;
    closed_ = true;
}

uint32_t Connection::SendReset()
{
    const TransferDesc desc = ResetCommandDesc();
    uint32_t count = 0;
    const uint32_t result = uDebugWriteCmd(&desc, kResetCommand, &count);
    if (result != RESULT_OK && afterFailure_ == AfterFailure::Leave)
        closeWhenDone_ = false;
    return result;
}

}  // namespace dump
