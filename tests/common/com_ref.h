// The owner of a COM reference, for the tests of both COM servers.
#pragma once

// Owns one COM reference.
template <class T> class Ref {
public:
    Ref() = default;
    explicit Ref(T* ptr) : ptr_(ptr) {}
    ~Ref() { Reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;

    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    T** Out()
    {
        Reset();
        return &ptr_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }
    void Attach(T* ptr)
    {
        Reset();
        ptr_ = ptr;
    }
    void Reset()
    {
        if (ptr_)
            ptr_->Release();
        ptr_ = nullptr;
    }

private:
    T* ptr_ = nullptr;
};
