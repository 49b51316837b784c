// Catches the texts that OutputDebugStringA raises in this process, for the
// tests and the peer program alike.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

// Collects the debug texts of this process while alive.
class DebugTexts {
public:
    DebugTexts();
    ~DebugTexts();
    DebugTexts(const DebugTexts&) = delete;
    DebugTexts& operator=(const DebugTexts&) = delete;
    std::vector<std::string> Take();

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info);
    static DebugTexts* active_;
    PVOID handler_;
    std::mutex lock_;
    std::vector<std::string> texts_;
};
