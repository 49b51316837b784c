/* The kernel pool that the device model allocates from, for the model's
 * user-mode build (tests that predict the device): the C heap. */
#include <stdint.h>
#include <stdlib.h>

void *__attribute__((stdcall)) ExAllocatePoolWithTag(int poolType, size_t size, uint32_t tag)
{
    (void)poolType;
    (void)tag;
    return malloc(size);
}

void __attribute__((stdcall)) ExFreePoolWithTag(void *block, uint32_t tag)
{
    (void)tag;
    free(block);
}
