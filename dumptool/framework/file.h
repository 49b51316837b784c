// A file on disk, opened with the access the flags ask for and closed by the
// object.  Paths are UTF-16; failures are results, never exceptions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "win/unique_any.h"

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeCreate = 0x1000,      // create the file if missing, empty it if present
        modeNoTruncate = 0x2000,  // with modeCreate: keep the contents of a present file
        // Delete access too, sharing everything: what moving another file over
        // this one takes, asked for without shutting anybody else out.
        modeDelete = 0x4000,
    };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    bool Open(const std::wstring& path, UINT flags);
    void Close() { handle_.reset(); }
    // True when the last Open made a file that was not there before.
    bool Created() const { return created_; }

    // Reads until `count` bytes or the end of the file; `got` says how many came.
    bool Read(void* buffer, uint32_t count, uint32_t& got);
    bool Write(const void* buffer, uint32_t count);

    static bool Remove(const std::wstring& path);

private:
    win::unique_file handle_;
    bool created_ = false;
};
