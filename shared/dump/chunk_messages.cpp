#include "dump/chunk_messages.h"

#include "uXfer.h"

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

ChunkMessages::~ChunkMessages()
{
    if (!attached_)
        return;
    uSetMsgFlag(0);
    uSetMsgWnd(nullptr);
}

}  // namespace dump
