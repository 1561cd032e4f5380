#pragma once
// Intrusive, thread-safe reference counting for objects that cross threads
// (transfer objects, queued tasks). The count starts at 0; the first CRefPtr
// takes it to 1 and the last release deletes the object.

#include <windows.h>

#include <utility>

template <typename T>
class CRefThreadSafeBase {
public:
    long AddRef() { return InterlockedIncrement(&refCount_); }
    long Release()
    {
        long left = InterlockedDecrement(&refCount_);
        if (left == 0)
            delete this;  // virtual: the most derived destructor runs
        return left;
    }
    long RefCount() const { return refCount_; }

protected:
    CRefThreadSafeBase() = default;
    virtual ~CRefThreadSafeBase() = default;

private:
    volatile LONG refCount_ = 0;

    CRefThreadSafeBase(const CRefThreadSafeBase&) = delete;
    CRefThreadSafeBase& operator=(const CRefThreadSafeBase&) = delete;
};

// Holds one reference to a T (or nothing). Not itself safe for concurrent
// mutation: each CRefPtr object belongs to one thread at a time.
template <typename T>
class CRefPtr {
public:
    CRefPtr() = default;
    CRefPtr(T* p) : p_(p)  // NOLINT: implicit on purpose, like a raw pointer
    {
        if (p_)
            p_->AddRef();
    }
    CRefPtr(const CRefPtr& other) : CRefPtr(other.p_) {}
    CRefPtr(CRefPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    template <typename U>
    CRefPtr(const CRefPtr<U>& other) : CRefPtr(other.get())
    {
    }
    ~CRefPtr()
    {
        if (p_)
            p_->Release();
    }

    CRefPtr& operator=(const CRefPtr& other)
    {
        Reset(other.p_);
        return *this;
    }
    CRefPtr& operator=(CRefPtr&& other) noexcept
    {
        if (this != &other) {
            T* old = p_;
            p_ = other.p_;
            other.p_ = nullptr;
            if (old)
                old->Release();
        }
        return *this;
    }
    CRefPtr& operator=(T* p)
    {
        Reset(p);
        return *this;
    }

    // Takes the new reference before dropping the old one, so assigning an
    // object to the pointer that already holds it cannot free it.
    void Reset(T* p = nullptr)
    {
        if (p)
            p->AddRef();
        T* old = p_;
        p_ = p;
        if (old)
            old->Release();
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

template <typename T, typename U>
bool operator==(const CRefPtr<T>& a, const CRefPtr<U>& b)
{
    return a.get() == b.get();
}
template <typename T, typename U>
bool operator!=(const CRefPtr<T>& a, const CRefPtr<U>& b)
{
    return a.get() != b.get();
}
