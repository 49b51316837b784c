// What the tool prints on standard output: text lines for people, or one JSON
// object a line for scripts.  Both are flushed at once, so that a script
// reading a pipe sees each line when it happens (watch).
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace uxfer {

// Keys stay in the order they were added.
using Json = nlohmann::ordered_json;

// Text of the system code page (paths, file names) as the UTF-8 JSON wants.
std::string JsonText(const std::string& ansi);

void PrintJson(const Json& object);
void PrintLine(const std::string& line);
// An informational line on standard error (not printed under --quiet).
void PrintInfo(const std::string& line);

}  // namespace uxfer
