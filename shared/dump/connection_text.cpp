// What is said about a connection, apart from the connection itself: a
// program that only opens and resets then doesn't import uEnumeInstances (a
// static library gives the linker whole objects).
#include "dump/connection.h"

#include <cstdio>
#include <iterator>

#include "dump/instance_lock.h"
#include "dump/results.h"
#include "loader_versions.h"
#include "uXfer.h"
#include "usb_protocol.h"

namespace dump {

namespace {


}  // namespace

void SelectInterfaceClass(uint32_t loaderVersion)
{
    // Told 0 the library keeps the class it has; the newest version's class is the default one.
    uSetKVVersion(loaderVersion ? loaderVersion : kLoaderVersions[std::size(kLoaderVersions) - 1].version);
}


std::string ListedPath(std::string path)
{
    for (char& c : path)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return path;
}

bool OpenInstance(Connection& connection, uint32_t instance, uint32_t loaderVersion, uint32_t flags,
                  const std::string& list, std::string& problem)
{
    uint32_t result;
    {
        InstanceLock lock;
        if (!lock.Held()) {
            problem = "can't select instance " + std::to_string(instance) + ": " + lock.Problem();
            return false;
        }
        SelectInterfaceClass(loaderVersion);
        uSetInstance(instance);
        result = connection.Open(flags);
    }
    if (result == RESULT_OK)
        return true;
    const std::string cls = GuidText(InterfaceClass(loaderVersion));
    const uint32_t present = uEnumeInstances();
    if (instance >= present)
        problem = "no device at instance " + std::to_string(instance) + " of interface class " + cls + " (" +
                  std::to_string(present) + " present): " + ResultText(result) + "; run " + list;
    else
        problem = "can't open instance " + std::to_string(instance) + " of interface class " + cls + ": " +
                  ResultText(result) + "; is another program using the device? run " + list;
    return false;
}

}  // namespace dump
