// A file on disk, opened with the access the flags ask for and closed by the
// object, and a file that replaces another only once it is complete.
// Failures are results, never exceptions.
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

    // The system call behind every write.  Tests put one in its place that
    // fails part way, as a full disk or a lost network share does.
    using WriteFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    static WriteFunction systemWrite;

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
    // Until what was written is on the disk.
    bool Flush();

    static bool Remove(const std::string& path);

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool created_ = false;
};

// New contents for the file `target`, written to a temporary file of its own
// in the target's folder.  Commit puts the complete, flushed file in the
// target's place in one move, so that the target holds either its old
// contents or all the new ones.  Removed again unless committed.
class CReplacementFile {
public:
    // `prefix`: the first three letters of the temporary file's name.
    explicit CReplacementFile(const std::string& target, const char* prefix = "vnt")
        : target_(target), prefix_(prefix)
    {
    }
    ~CReplacementFile();
    CReplacementFile(const CReplacementFile&) = delete;
    CReplacementFile& operator=(const CReplacementFile&) = delete;

    // Creates the temporary file.
    bool Open();
    bool Write(const void* buffer, uint32_t count) { return file_.Write(buffer, count); }
    // Flushes and closes the temporary file and moves it over the target.
    bool Commit();
    // The temporary file; empty before Open made it.
    const std::string& Path() const { return path_; }

private:
    std::string target_;
    const char* prefix_;
    std::string path_;  // the temporary file, once created
    CFile file_;
    bool committed_ = false;
};
