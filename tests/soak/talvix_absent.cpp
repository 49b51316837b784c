// The 64-bit soak: a 64-bit process can't load the 32-bit Talvix.dll, so
// there is no Talvix driver, and what the main program asks of Talvix is
// nothing.
#include "soak/soak.h"

namespace soak {

Driver* NewTalvixDriver(Context&)
{
    return nullptr;
}

bool TalvixCancelFromHelper()
{
    return false;
}

size_t TalvixSettledBlocks()
{
    return 0;
}

void TalvixProbe(Context&) {}

}  // namespace soak
