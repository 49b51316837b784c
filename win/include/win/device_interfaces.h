// The present interfaces of one device interface class, numbered in SetupAPI's
// order: the instances uXfer.dll, uxfer, Talvix and the virtual device's tools
// all count the same way.  The class itself needs no C runtime (Talvix links
// it); DeviceInterfacePath is for the programs that have one.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <string>

#include "win/unique_any.h"

namespace win {

class DeviceInterfaces {
public:
    explicit DeviceInterfaces(const GUID& cls);

    // False when SetupAPI gave no set for the class.
    bool valid() const { return set_.valid(); }
    // Interface `index`; false past the last one.
    bool Find(DWORD index, SP_DEVICE_INTERFACE_DATA& data) const;
    // How many there are.
    DWORD Count() const;
    // Bytes the detail record of `data` takes; 0 when SetupAPI gives none.
    DWORD DetailSize(SP_DEVICE_INTERFACE_DATA& data) const;
    // Fills `detail`, of DetailSize bytes, with the device path (ANSI).
    bool Detail(SP_DEVICE_INTERFACE_DATA& data, SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size) const;

private:
    GUID cls_;
    unique_hdevinfo set_;
};

// The device path of interface `index`, as SetupAPI spells it; empty when
// there is none.
std::string DeviceInterfacePath(const DeviceInterfaces& set, DWORD index);

}  // namespace win
