// What every call of the link returns: a kind a front end maps to its own
// error kinds, and one line that says what happened.  Nothing of the link
// throws: a failure is a value.
#pragma once

#include <string>

namespace usblink {

enum class Code { Ok, NoMemory, OpenFailed, IoFailed, Cancelled, Timeout };

struct Result {
    Code code = Code::Ok;
    std::string detail;  // empty when ok

    bool ok() const { return code == Code::Ok; }
};

inline Result Ok()
{
    return Result();
}

// Short enough to fit the string's own storage: made without allocating.
inline Result OutOfMemory()
{
    return Result{Code::NoMemory, "out of memory"};
}

// "ok", "no memory", "open failed", "I/O failed", "cancelled", "timeout".
const char* CodeName(Code code);

}  // namespace usblink
