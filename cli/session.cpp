#include "session.h"

#include <cstdio>

#include "errors.h"
#include "instance_lock.h"
#include "loader_versions.h"
#include "uXfer.h"
#include "usb_protocol.h"

namespace cli {

GUID InterfaceClass(uint32_t loaderVersion)
{
    if (const LoaderVersion* loader = FindLoaderVersion(loaderVersion))
        return loader->interfaceClass;
    static const GUID kDefault = DEVICE_CLASS_DEFAULT_INIT;
    return kDefault;
}

std::string GuidText(const GUID& g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::string ListedPath(std::string path)
{
    for (char& c : path)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return path;
}

int DeviceSession::Open(uint32_t flags)
{
    uint32_t result;
    {
        InstanceLock lock;
        if (!lock.Held())
            return Fail(kExitNoDevice, "can't select instance " + std::to_string(instance_) + ": " + lock.Problem());
        uSetInstance(instance_);
        result = connection_.Open(flags);
    }
    if (result == RESULT_OK)
        return kExitOk;
    const std::string cls = GuidText(InterfaceClass(loaderVersion_));
    const uint32_t present = uEnumeInstances();
    if (instance_ >= present)
        return Fail(kExitNoDevice, "no device at instance " + std::to_string(instance_) + " of interface class " +
                                       cls + " (" + std::to_string(present) + " present): " + ResultText(result) +
                                       "; run 'uxfer list'");
    return Fail(kExitNoDevice, "can't open instance " + std::to_string(instance_) + " of interface class " + cls +
                                   ": " + ResultText(result) +
                                   "; is another program using the device? run 'uxfer list'");
}

int DeviceSession::SendReset()
{
    const uint32_t result = connection_.SendReset();
    if (result != RESULT_OK)
        return Fail(kExitDevice, "the reset command to instance " + std::to_string(instance_) + " failed: " +
                                     ResultText(result) + "; try 'uxfer status' and 'uxfer reset', or --no-reset");
    return kExitOk;
}

}  // namespace cli
