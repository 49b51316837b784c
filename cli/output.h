// What the tool prints on standard output: text lines for people, or one JSON
// object a line for scripts.  Both are flushed at once, so that a script
// reading a pipe sees each line when it happens (watch).
//
// Text is UTF-8 inside the tool.  A console gets it in UTF-16, as the
// console's own characters; a file or pipe gets the UTF-8 bytes.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <string>

namespace cli {

// Keys stay in the order they were added.
using Json = nlohmann::ordered_json;

void PrintJson(const Json& object);
void PrintLine(const std::string& line);
// An informational line on standard error (not printed under --quiet).
void PrintInfo(const std::string& line);
// A line of text on `stream`, standard output or standard error.
void WriteLine(FILE* stream, const std::string& line);

// Bytes as the device gave them: "01 A5 FF" in text, an array of numbers in JSON.
std::string HexBytes(const uint8_t* bytes, size_t count);
Json ByteArray(const uint8_t* bytes, size_t count);

// Dump bytes as lines of a hex dump, CR LF each, from word address `addr` on:
// the address, the words (one byte each; raw: 16-bit words, the first byte
// low) and the bytes as characters, printable ASCII or '.'.  16 bytes a line.
std::string HexDump(uint32_t addr, const uint8_t* bytes, size_t count, bool raw);

}  // namespace cli
