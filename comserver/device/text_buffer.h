// Path text put together in fixed MAX_PATH buffers, never past their end.
#pragma once

#include <windows.h>

// Appends text at out[used] and advances used; false when the text would not
// fit together with a terminator (the buffer then holds no usable path).
inline bool AppendText(char (&out)[MAX_PATH], DWORD& used, const char* text)
{
    for (; *text; ++text) {
        if (used >= MAX_PATH - 1)
            return false;
        out[used++] = *text;
    }
    out[used] = '\0';
    return true;
}
