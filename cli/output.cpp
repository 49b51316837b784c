#include "output.h"

#include <algorithm>

#include "platform.h"

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
    if (IsConsole(stream)) {
        WriteConsoleLine(stream, line);
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

std::string HexDump(uint32_t addr, const uint8_t* bytes, size_t count, bool raw)
{
    constexpr size_t kLineBytes = 16;
    const size_t step = raw ? 2 : 1;
    std::string text;
    char cell[16];
    for (size_t at = 0; at < count; at += kLineBytes) {
        const size_t length = std::min(kLineBytes, count - at);
        std::snprintf(cell, sizeof cell, "%08X ", static_cast<unsigned>(addr + at / step));
        text += cell;
        for (size_t i = 0; i < kLineBytes; i += step) {
            if (i >= length)
                text.append(raw ? 5 : 3, ' ');
            else if (raw)
                std::snprintf(cell, sizeof cell, " %02X%02X", bytes[at + i + 1], bytes[at + i]);
            else
                std::snprintf(cell, sizeof cell, " %02X", bytes[at + i]);
            if (i < length)
                text += cell;
        }
        text += "  ";
        for (size_t i = 0; i < length; ++i)
            text += bytes[at + i] >= 0x20 && bytes[at + i] < 0x7F ? static_cast<char>(bytes[at + i]) : '.';
        text += "\r\n";
    }
    return text;
}

}  // namespace cli
