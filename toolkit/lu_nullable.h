#pragma once
// A value that may be absent: optional camera lists, rates that the host has not reported yet,
// the null entries of mask and online-state tables.
#include <new>
#include <utility>

template <class T>
class LuNullable {
public:
    LuNullable() = default;
    LuNullable(const T& v) { set(v); }  // NOLINT: implicit on purpose, like assignment
    LuNullable(const LuNullable& other) {
        if (!other.null) set(other.get());
    }
    LuNullable& operator=(const LuNullable& other) {
        if (this == &other) return *this;
        if (other.null)
            setNull();
        else
            set(other.get());
        return *this;
    }
    LuNullable& operator=(const T& v) {
        set(v);
        return *this;
    }
    ~LuNullable() { setNull(); }

    bool isNull() const { return null; }
    void setNull() {
        if (!null) {
            ptr()->~T();
            null = true;
        }
    }
    void set(const T& v) {
        T copy(v);  // v may be our own value
        setNull();
        new (storage) T(std::move(copy));
        null = false;
    }
    T& get() { return *ptr(); }
    const T& get() const { return *ptr(); }

    bool operator==(const LuNullable& other) const {
        if (null || other.null) return null == other.null;
        return get() == other.get();
    }

private:
    T* ptr() { return std::launder(reinterpret_cast<T*>(storage)); }
    const T* ptr() const { return std::launder(reinterpret_cast<const T*>(storage)); }

    alignas(T) unsigned char storage[sizeof(T)];
    bool null = true;
};
