// The library's progress messages (WM_COPYDATA, wParam XFER_PROGRESS_ID,
// dwData = bytes of the chunk just moved) turned into calls.  The library
// sends them with SendMessage from the thread that runs the transfer, which
// makes the window here, so the calls come on that thread, between two
// chunks, and no message loop is needed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "win/hidden_window.h"

namespace dump {

class ChunkMessages {
public:
    using Handler = std::function<void(uint32_t bytes)>;

    // Asks the library for the messages of the coming transfers, which go to
    // `handler`.  False: they can't be had (no window).
    bool Attach(Handler handler);
    // Why Attach failed: "CreateWindowEx failed (error N: ...)".
    std::string Problem() const;
    // Tells the library to stop sending.
    ~ChunkMessages();

private:
    win::HiddenWindow window_;
    Handler handler_;
    bool attached_ = false;
};

}  // namespace dump
