// The two classes these sources serve, one an image: uXfer.Device over
// uXfer.dll (uXferAuto.dll) and uXfer.SimDevice over uXferSim.dll
// (uXferAutoSim.dll, built with UXFER_AUTO_SIM).  Both share the type
// library, its interfaces and their registration.
#pragma once

#include <windows.h>

namespace automation {

struct ServerClass {
    const CLSID& clsid;
    const wchar_t* name;
    const wchar_t* progId;
    const wchar_t* versionedProgId;
    const wchar_t* library;  // the transfer library its objects call
};

// This image's class, and the other image's.
const ServerClass& ServedClass();
const ServerClass& SiblingClass();

}  // namespace automation
