/* The pool the model allocates from: the kernel's in a driver, the C heap
 * elsewhere (pool.c).  Only 32-bit Windows decorates the kernel's names. */
#ifndef DEVICEMODEL_POOL_H
#define DEVICEMODEL_POOL_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && defined(__i386__)
#define MODEL_POOL_CALL __attribute__((stdcall))
#else
#define MODEL_POOL_CALL
#endif

void *MODEL_POOL_CALL ExAllocatePoolWithTag(int poolType, size_t size, uint32_t tag);
void MODEL_POOL_CALL ExFreePoolWithTag(void *block, uint32_t tag);

#endif
