#include "usblink/result.h"

namespace usblink {

const char* CodeName(Code code)
{
    switch (code) {
    case Code::Ok: return "ok";
    case Code::NoMemory: return "no memory";
    case Code::OpenFailed: return "open failed";
    case Code::IoFailed: return "I/O failed";
    case Code::Cancelled: return "cancelled";
    case Code::Timeout: return "timeout";
    }
    return "unknown";
}

}  // namespace usblink
