// Opens \PIPE0 of the first default-class interface with CreateFileA, as a
// product program would: exit 0 when the pipe opened, 3 when it did not.
#include <windows.h>

#include <string>

#include "device_fixture.h"

int main()
{
    std::string path = InterfacePath(vdev::kDefaultClass, 0);
    if (path.empty())
        return 4;
    FileHandle pipe(OpenPath(path + "\\PIPE0", GENERIC_READ));
    return pipe.valid() ? 0 : 3;
}
