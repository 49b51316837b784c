#include "dump/connection.h"

#include <cstdio>

#include "dump/dump_requests.h"
#include "dump/results.h"
#include "loader_versions.h"
#include "uXfer.h"
#include "usb_protocol.h"

namespace dump {

namespace {

constexpr uint32_t kBaseTimeoutSeconds = 60;
constexpr uint32_t kWireBytesPerSecond = 128 * 1024;

}  // namespace

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

std::string OpenFailureText(uint32_t instance, uint32_t loaderVersion, uint32_t result)
{
    const std::string cls = GuidText(InterfaceClass(loaderVersion));
    const uint32_t present = uEnumeInstances();
    if (instance >= present)
        return "no device at instance " + std::to_string(instance) + " of interface class " + cls + " (" +
               std::to_string(present) + " present): " + ResultText(result);
    return "can't open instance " + std::to_string(instance) + " of interface class " + cls + ": " +
           ResultText(result) + "; is another program using the device?";
}

uint32_t DefaultTimeoutSeconds(uint32_t wireBytes)
{
    return kBaseTimeoutSeconds + wireBytes / kWireBytesPerSecond;
}

Connection::~Connection()
{
    if (closeWhenDone_)
        uClose();
}

uint32_t Connection::Open(uint32_t flags)
{
    const uint32_t result = uCreate(flags);
    closeWhenDone_ = result == RESULT_OK || afterFailure_ == AfterFailure::Close;
    return result;
}

uint32_t Connection::SendReset()
{
    const TransferDesc desc = ResetCommandDesc();
    uint32_t count = 0;
    const uint32_t result = uDebugWriteCmd(&desc, kResetCommand, &count);
    if (result != RESULT_OK && afterFailure_ == AfterFailure::Leave)
        closeWhenDone_ = false;
    return result;
}

}  // namespace dump
