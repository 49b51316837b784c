/* Talvix module services for every part of the server, the registration code
 * included.  Plain functions with C linkage; callable from process attach until
 * process detach (the module record is set up before anything else runs).
 *
 * Memory: Talvix.dll links no C runtime.  Every block inside the module comes
 * from ModuleAlloc/ModuleRealloc and goes back through ModuleFree; never use
 * malloc, new, HeapAlloc(GetProcessHeap()) or CoTaskMemAlloc for the module's
 * own data.  On machines with several processors the blocks are spread over
 * several private heaps; each block remembers its heap, so any thread may free
 * any block.
 *
 * Module record: ModuleInstance() is the handle the DLL entry point received
 * (resources, the module path and the type library are taken from it).
 * ModuleUpdateRegistry() runs the updateRegistry routine of every entry of
 * the class map: when registering it stops at the first failure and returns
 * it; when unregistering it runs them all, ignores their results and returns
 * S_OK. */
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

HINSTANCE ModuleInstance(void);
HRESULT ModuleUpdateRegistry(BOOL doRegister);

/* Provided by the registration library: runs the "REGISTRY" script resource
 * resourceId in register or unregister mode.  It is the updateRegistry routine
 * of the TVXDevice class entry (resource IDR_TVXDEVICE of resource.h). */
HRESULT UpdateRegistryFromScript(UINT resourceId, BOOL doRegister);

#ifdef __cplusplus
}
#endif
#endif
