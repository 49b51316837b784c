// Text between the code pages and UTF-16: settings files are ANSI, the file
// functions take UTF-16, and uxfer works in UTF-8.
#pragma once

#include <windows.h>

#include <string>

namespace win {

// Text of code page `codePage` as UTF-16, and back.  Characters the code page
// lacks become its default character.
std::wstring Widen(const std::string& text, UINT codePage);
std::string Narrow(const std::wstring& text, UINT codePage);

// A path of the ANSI code page as the wide file functions take it, held to
// what the ANSI file functions accept: a path of MAX_PATH characters or more
// gives an empty path, which no file opens.
std::wstring WidePath(const std::string& ansiPath);

}  // namespace win
