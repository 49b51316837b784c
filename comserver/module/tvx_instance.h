// The two forms a TVXDevice takes: standalone, counting its own references,
// and aggregated, behind an outer-facing IUnknown of its own with the object's
// IUnknown delegating to the controlling unknown.
#pragma once

#include <windows.h>

// The class entry's instanceCreator: a null outer makes a standalone object.
HRESULT CreateDeviceInstance(IUnknown* outer, REFIID riid, void** ppv);
