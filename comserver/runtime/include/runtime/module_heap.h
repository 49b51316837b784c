/* The allocator of every part of the server, the registration code included.
 * Plain functions with C linkage; callable from process attach until process
 * detach (the heaps are made before anything else runs).
 *
 * Talvix.dll links no C runtime.  Every block inside the module comes from
 * ModuleAlloc/ModuleRealloc and goes back through ModuleFree; never use
 * malloc, new, HeapAlloc(GetProcessHeap()) or CoTaskMemAlloc for the module's
 * own data.  On machines with several processors the blocks are spread over
 * several private heaps; each block remembers its heap, so any thread may free
 * any block. */
#ifndef TALVIX_MODULE_HEAP_H
#define TALVIX_MODULE_HEAP_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Null when the heap refuses the block. */
void* ModuleAlloc(size_t size);
/* A null block is ModuleAlloc(size).  Null on failure; the old block then stays valid. */
void* ModuleRealloc(void* block, size_t size);
/* ModuleFree(NULL) does nothing. */
void ModuleFree(void* block);

/* Process attach and detach: the base heap, and the extra heaps on machines
 * with several processors. */
void ModuleHeapsCreate(void);
void ModuleHeapsDestroy(void);

#ifdef __cplusplus
}
#endif
#endif
