// Text between the code pages and UTF-16: settings files are ANSI, the file
// functions take UTF-16, and uxfer works in UTF-8.  And the text of paths and
// of system errors.
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


// The system's reason for `error`, as "error N: text" (the text in UTF-8).
std::string SystemErrorText(unsigned long error);

// The full path of `path`: the profile functions and file checks need one (a
// bare name would be looked for in the Windows folder).  A path on a drive or
// share comes with the \\?\ (or \\?\UNC\) prefix, so that it may be longer
// than MAX_PATH; device names and prefixed paths stay as they are.
std::wstring FullPath(const std::wstring& path);
// A full path as people read it: without the prefix.
std::wstring ShownPath(const std::wstring& path);

}  // namespace win
