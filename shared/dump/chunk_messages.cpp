#include "dump/chunk_messages.h"

#include "uXfer.h"
#include "win/text.h"

namespace dump {

bool ChunkMessages::Attach(Handler handler)
{
    handler_ = std::move(handler);
    attached_ = window_.Create([this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        if (message != WM_COPYDATA || wParam != XFER_PROGRESS_ID)
            return false;
        handler_(static_cast<uint32_t>(reinterpret_cast<const COPYDATASTRUCT*>(lParam)->dwData));
        result = TRUE;
        return true;
    });
    if (!attached_)
        return false;
    uSetMsgWnd(window_.Handle());
    uSetMsgFlag(1);
    return true;
}

std::string ChunkMessages::Problem() const
{
    const DWORD error = window_.Error();
    return std::string(window_.FailedCall()) + " failed (" +
           (error ? win::SystemErrorText(error) : std::string("the system gave no error code")) + ")";
}

ChunkMessages::~ChunkMessages()
{
    if (!attached_)
        return;
    // The library can't say what the process had set before: no window and no
    // messages, and a host that calls the library too sets its own again.
    uSetMsgFlag(0);
    uSetMsgWnd(nullptr);
}

}  // namespace dump
