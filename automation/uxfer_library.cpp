#include "uxfer_library.h"

#include "server_class.h"
#include "xferlib/uxfer_library.h"

namespace automation {

Failure LoadUxfer()
{
    const xferlib::LoadFailure failure = xferlib::Load({ServedClass().library, true});
    if (!failure)
        return {};
    return Fail(HRESULT_FROM_WIN32(failure.error), failure.message);
}

}  // namespace automation
