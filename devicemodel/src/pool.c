/* The kernel pool that the device model allocates from, for user-mode hosts
 * (the simulated devices, tests that predict the device, the Linux test bed):
 * the C heap. */
#include <stdlib.h>

#include "pool.h"

void *MODEL_POOL_CALL ExAllocatePoolWithTag(int poolType, size_t size, uint32_t tag)
{
    (void)poolType;
    (void)tag;
    return malloc(size);
}

void MODEL_POOL_CALL ExFreePoolWithTag(void *block, uint32_t tag)
{
    (void)tag;
    free(block);
}
