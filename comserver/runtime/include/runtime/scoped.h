// Small owners used across the server: a critical-section guard, a block of
// module memory and one COM reference.  System handles have the shared owners
// of win/unique_any.h.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "runtime/module_heap.h"

class CLockGuard {
public:
    explicit CLockGuard(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
    ~CLockGuard() { LeaveCriticalSection(&lock_); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    CRITICAL_SECTION& lock_;
};

// One block from the module heaps, freed when the owner goes.
class CModuleBlock {
public:
    explicit CModuleBlock(size_t size) : block_(ModuleAlloc(size)) {}
    ~CModuleBlock() { ModuleFree(block_); }
    CModuleBlock(const CModuleBlock&) = delete;
    CModuleBlock& operator=(const CModuleBlock&) = delete;

    explicit operator bool() const { return block_ != nullptr; }
    template <class T> T* As() const { return static_cast<T*>(block_); }

private:
    void* block_;
};

// Objects the server makes on the module heaps: a failed allocation yields a
// null pointer from new, and delete returns the memory to its heap.
struct CModuleObject {
    static void* operator new(size_t size) noexcept { return ModuleAlloc(size); }
    static void operator delete(void* block) noexcept { ModuleFree(block); }
};

// Owns one reference to a COM interface.
template <class T> class CComRef {
public:
    CComRef() = default;
    ~CComRef()
    {
        if (ptr_)
            ptr_->Release();
    }
    CComRef(const CComRef&) = delete;
    CComRef& operator=(const CComRef&) = delete;

    T** Out() { return &ptr_; }
    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T* Detach()
    {
        T* ptr = ptr_;
        ptr_ = nullptr;
        return ptr;
    }

private:
    T* ptr_ = nullptr;
};
