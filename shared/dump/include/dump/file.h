// The files of a dump: whole reads and writes on an open file, and a file
// that replaces another only once it is complete.  Paths are UTF-16;
// failures are results, never exceptions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "win/unique_any.h"

namespace dump {

// The system call behind every file write.  Tests put one in its place that
// fails part way, as a full disk or a lost network share does.
using WriteFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
extern WriteFunction systemWrite;

// Reads until `count` bytes or the end of the file; `got` says how many came.
bool ReadAll(HANDLE file, void* buffer, uint32_t count, uint32_t& got);
// Writes all `count` bytes; on failure the last error says why.
bool WriteAll(HANDLE file, const void* buffer, uint32_t count);

// Why `path` names no plain file, before anything is opened: a NUL in it
// (the system would end the name there, at another file) or a ':' past the
// drive (a stream of a file, which copies and listings don't show).  Empty
// when it names one.
std::string NameProblem(const std::wstring& path);

// Held: GetLastError() says why.
enum class ReplaceCheck { Ok, Folder, Held };
// Whether a dump may replace `path` (absent, or a file we may write and
// delete, held by no one without sharing): asked before the device is touched.
ReplaceCheck CheckReplaceable(const std::wstring& path);

// Opens the file at the full `path` to read it whole, before the device is
// touched; `length` receives its length.  False: `problem` says why, calling
// it `name` ("can't read NAME (error 2: ...); does the file exist?").
bool OpenSource(const std::wstring& path, const std::string& name, win::unique_file& file, uint64_t& length,
                std::string& problem);

// New contents for the file `target`, written to a temporary file of its own
// in the target's folder.  Commit puts the complete, flushed file in the
// target's place in one move, with the target's attributes and access rights,
// so that the target holds either its old contents or all the new ones.  The
// temporary file goes away unless committed, also when the process is killed.
class ReplacementFile {
public:
    // `prefix`: the first three letters of the temporary file's name.
    ReplacementFile(const std::wstring& target, const wchar_t* prefix) : target_(target), prefix_(prefix) {}

    // Creates the temporary file.
    bool Open();
    bool Write(const void* buffer, uint32_t count) { return WriteAll(file_.get(), buffer, count); }
    // Flushes and closes the temporary file and moves it over the target.
    bool Commit();
    // The temporary file; empty before Open made it.
    const std::wstring& Path() const { return path_; }

private:
    // A new file at `path` that goes away when it is closed, or the process
    // dies, unless Keep is called.
    bool Create(const std::wstring& path);
    bool Keep();
    // Takes the attributes (hidden, system, archive...) and the access rights
    // of the target, when there is one.
    bool TakeTargetAttributes();

    std::wstring target_;
    const wchar_t* prefix_;
    std::wstring path_;  // the temporary file, once created
    win::unique_file file_;
};

}  // namespace dump
