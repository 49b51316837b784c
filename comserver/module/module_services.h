/* The module record's services for the registration code.  Plain functions
 * with C linkage, callable from process attach until process detach.
 *
 * ModuleInstance() is the handle the DLL entry point received (resources, the
 * module path and the type library are taken from it).  ModuleUpdateRegistry()
 * runs the updateRegistry routine of every entry of the class map: when
 * registering it stops at the first failure and returns it; when unregistering
 * it runs them all, ignores their results and returns S_OK. */
#ifndef TALVIX_MODULE_SERVICES_H
#define TALVIX_MODULE_SERVICES_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

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
