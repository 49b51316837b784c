// Folders of the Windows installation as a test program needs them.
#pragma once

#include <string>

// True for a 32-bit program running on a 64-bit Windows (WoW64).
bool UnderWow64();
// The Windows directory, without a trailing '\'.
std::string WindowsFolder();
// The folder kernel drivers lie in, ending in '\': System32\drivers, which a
// 32-bit program under WoW64 reaches as Sysnative\drivers (its own System32
// leads to SysWOW64).
std::string DriversFolder();
