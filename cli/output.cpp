#include "output.h"

#include <windows.h>

#include "win/text.h"

namespace cli {

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
        const std::wstring text = win::Widen(line + "\n", CP_UTF8);
        DWORD written = 0;
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

std::string HexBytes(const uint8_t* bytes, size_t count)
{
    std::string text;
    char byte[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
        text += byte;
    }
    return text;
}

Json ByteArray(const uint8_t* bytes, size_t count)
{
    Json array = Json::array();
    for (size_t i = 0; i < count; ++i)
        array.push_back(bytes[i]);
    return array;
}

}  // namespace cli
