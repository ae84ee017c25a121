#pragma once
// A COM reference released at the end of its scope.

template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Releases what is held and hands out the slot for a call that fills it.
    T** out()
    {
        reset();
        return &object_;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }
    // Takes a reference of its own to `object` (null for none) and releases
    // the one held before.
    void hold(T* object)
    {
        if (object) object->AddRef();
        reset();
        object_ = object;
    }
    void reset()
    {
        if (object_) object_->Release();
        object_ = nullptr;
    }
    // Gives the reference to the caller.
    T* release()
    {
        T* object = object_;
        object_ = nullptr;
        return object;
    }

private:
    T* object_ = nullptr;
};
