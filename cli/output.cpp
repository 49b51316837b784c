#include "output.h"

#include <windows.h>

#include "framework/file.h"

namespace uxfer {

void PrintJson(const Json& object)
{
    PrintLine(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void PrintLine(const std::string& line)
{
    WriteLine(stdout, line);
}

void PrintInfo(const std::string& line)
{
    WriteLine(stderr, line);
}

void WriteLine(FILE* stream, const std::string& line)
{
    std::fflush(stream);
    const HANDLE handle = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring text = Widen(line + "\n", CP_UTF8);
        DWORD written = 0;
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace uxfer
