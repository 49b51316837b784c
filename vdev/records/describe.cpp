#include "vdev_records.h"

#include <cstdio>

namespace vdev {

std::string Describe(const VdevLogRecord& r)
{
    static const char* const kTypes[] = {"?", "OPEN", "CLOSE", "CONTROL", "READ", "WRITE", "RESET"};
    static const char* const kPipes[] = {"PIPE0", "PIPE1", "control"};
    char line[512];
    int n = std::snprintf(line, sizeof line, "#%u %s %s a=%#x b=%#x c=%#x", r.seq, r.type < 7 ? kTypes[r.type] : "?",
                          r.pipe < 3 ? kPipes[r.pipe] : "?", r.a, r.b, r.c);
    if (r.type == VDEV_LOG_OPEN) {
        std::snprintf(line + n, sizeof line - n, " path=%.*s", r.dataLen, reinterpret_cast<const char*>(r.data));
    } else {
        for (unsigned i = 0; i < r.dataLen && i < 40 && n < static_cast<int>(sizeof line) - 4; ++i)
            n += std::snprintf(line + n, sizeof line - n, "%s%02x", i == r.inLen && i ? " | " : " ", r.data[i]);
    }
    return line;
}

}  // namespace vdev
