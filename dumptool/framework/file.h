// A file on disk, opened with the access the flags ask for and closed by the
// object, and a file that replaces another only once it is complete.
// Paths are UTF-16; failures are results, never exceptions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "win/unique_any.h"

// Text of code page `codePage` as UTF-16, and back.  Characters the code page
// lacks become its default character.
std::wstring Widen(const std::string& text, UINT codePage);
std::string Narrow(const std::wstring& text, UINT codePage);

// A path of the ANSI code page as the wide file functions take it, held to
// what the ANSI file functions accept: a path of MAX_PATH characters or more
// gives an empty path, which no file opens.
std::wstring WidePath(const std::string& ansiPath);

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
        // A new file (fails when one is there) that goes away when it is closed,
        // or its process dies, unless Keep was called.  Opened for writing.
        modeTemporary = 0x8000,
    };

    // The system call behind every write.  Tests put one in its place that
    // fails part way, as a full disk or a lost network share does.
    using WriteFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    static WriteFunction systemWrite;

    CFile() = default;
    ~CFile() { Close(); }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    bool Open(const std::wstring& path, UINT flags);
    void Close();
    // True when the last Open made a file that was not there before.
    bool Created() const { return created_; }

    // Reads until `count` bytes or the end of the file; `got` says how many came.
    bool Read(void* buffer, uint32_t count, uint32_t& got);
    bool Write(const void* buffer, uint32_t count);
    // Until what was written is on the disk.
    bool Flush();
    // A temporary file stays when closed.
    bool Keep();
    // Takes the attributes (hidden, system, archive...) and the access rights
    // of the file `path`, when there is one.  Needs a temporary file.
    bool TakeAttributesOf(const std::wstring& path);

    static bool Remove(const std::wstring& path);

private:
    win::unique_file handle_;
    bool created_ = false;
};

// New contents for the file `target`, written to a temporary file of its own
// in the target's folder.  Commit puts the complete, flushed file in the
// target's place in one move, with the target's attributes and access rights,
// so that the target holds either its old contents or all the new ones.  The
// temporary file goes away unless committed, also when the process is killed.
class CReplacementFile {
public:
    // `prefix`: the first three letters of the temporary file's name.
    explicit CReplacementFile(const std::wstring& target, const wchar_t* prefix = L"vnt")
        : target_(target), prefix_(prefix)
    {
    }
    CReplacementFile(const CReplacementFile&) = delete;
    CReplacementFile& operator=(const CReplacementFile&) = delete;

    // Creates the temporary file.
    bool Open();
    bool Write(const void* buffer, uint32_t count) { return file_.Write(buffer, count); }
    // Flushes and closes the temporary file and moves it over the target.
    bool Commit();
    // The temporary file; empty before Open made it.
    const std::wstring& Path() const { return path_; }

private:
    std::wstring target_;
    const wchar_t* prefix_;
    std::wstring path_;  // the temporary file, once created
    CFile file_;
};
