// A file on disk, opened with the access the flags ask for and closed by the
// object.  Failures are results, never exceptions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeCreate = 0x1000,      // create the file if missing, empty it if present
        modeNoTruncate = 0x2000,  // with modeCreate: keep the contents of a present file
    };

    CFile() = default;
    ~CFile() { Close(); }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    bool Open(const std::string& path, UINT flags);
    void Close();
    // True when the last Open made a file that was not there before.
    bool Created() const { return created_; }

    // Reads until `count` bytes or the end of the file; `got` says how many came.
    bool Read(void* buffer, uint32_t count, uint32_t& got);
    bool Write(const void* buffer, uint32_t count);
    bool SeekToBegin();
    // Ends the file at the current position.
    bool SetEnd();
    // Puts what was written on the disk before the call returns.
    bool Flush();

    static bool Remove(const std::string& path);

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool created_ = false;
};
