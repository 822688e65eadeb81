#pragma once
// LuArray is the array interface protocol records are passed around as; LuDArray is its one
// growable implementation. The storage always holds exactly getSize() elements, so arrays are
// meant to be small and filled once (per-client lists, per-frame records).
#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

namespace lu_detail {
// Memory exhaustion is fatal throughout the toolkit: there is no recoverable path.
[[noreturn]] void arrayAllocationFailed(long long count, unsigned long long bytes);
}  // namespace lu_detail

template <class T>
class LuArray {
public:
    LuArray() = default;
    LuArray(const LuArray&) = delete;
    LuArray& operator=(const LuArray&) = delete;
    virtual ~LuArray() { clear(); }

    int getSize() const { return count; }
    bool isEmpty() const { return count == 0; }
    T& operator[](int index) { return elements[index]; }
    const T& operator[](int index) const { return elements[index]; }
    T* begin() { return elements; }
    T* end() { return elements + count; }
    const T* begin() const { return elements; }
    const T* end() const { return elements + count; }

    // Resizes to exactly n elements. New slots are value-initialised (the arrays here never
    // rely on uninitialised slots); removed elements are destroyed in index order.
    void setSize(int n) {
        if (n == count) return;
        if (n <= 0) {
            clear();
            return;
        }
        T* storage = relocateInto(n);
        for (int i = count < n ? count : n; i < n; ++i) new (storage + i) T();
        adopt(storage, n);
    }

    // The new element is built straight into its slot, so element types need no default
    // constructor to be appended.
    void append(const T& value) {
        T copy(value);  // value may live inside this array, whose elements are about to move
        append(std::move(copy));
    }
    void append(T&& value) {
        T moved(std::move(value));
        T* storage = relocateInto(count + 1);
        new (storage + count) T(std::move(moved));
        adopt(storage, count + 1);
    }

    void clear() {
        for (int i = 0; i < count; ++i) elements[i].~T();
        std::free(elements);
        elements = nullptr;
        count = 0;
    }

protected:
    void assignFrom(const LuArray& other) {
        if (this == &other) return;
        if (count > other.count) setSize(other.count);
        if (count == other.count) {
            for (int i = 0; i < count; ++i) elements[i] = other.elements[i];
            return;
        }
        clear();
        if (other.count == 0) return;
        T* storage = allocate(other.count);
        for (int i = 0; i < other.count; ++i) new (storage + i) T(other.elements[i]);
        elements = storage;
        count = other.count;
    }
    void takeFrom(LuArray& other) {
        if (this == &other) return;
        clear();
        std::swap(elements, other.elements);
        std::swap(count, other.count);
    }

private:
    // New storage for n elements holding the first min(n, count) elements, moved.
    T* relocateInto(int n) {
        T* storage = allocate(n);
        int kept = n < count ? n : count;
        for (int i = 0; i < kept; ++i) new (storage + i) T(std::move(elements[i]));
        return storage;
    }
    // Installs storage of n elements; the old elements are destroyed in index order.
    void adopt(T* storage, int n) {
        int oldCount = count;
        T* old = elements;
        elements = storage;
        count = n;
        for (int i = 0; i < oldCount; ++i) old[i].~T();
        std::free(old);
    }

    static T* allocate(int n) {
        std::size_t bytes = static_cast<std::size_t>(n) * sizeof(T);
        void* storage = std::malloc(bytes);
        if (!storage) lu_detail::arrayAllocationFailed(n, bytes);
        return static_cast<T*>(storage);
    }

    T* elements = nullptr;
    int count = 0;
};

template <class T>
class LuDArray : public LuArray<T> {
public:
    LuDArray() = default;
    LuDArray(const LuDArray& other) : LuArray<T>() { this->assignFrom(other); }
    LuDArray(LuDArray&& other) noexcept : LuArray<T>() { this->takeFrom(other); }
    LuDArray& operator=(const LuDArray& other) {
        this->assignFrom(other);
        return *this;
    }
    LuDArray& operator=(LuDArray&& other) noexcept {
        this->takeFrom(other);
        return *this;
    }
    ~LuDArray() override = default;

    bool operator==(const LuDArray& other) const {
        if (this->getSize() != other.getSize()) return false;
        for (int i = 0; i < this->getSize(); ++i)
            if (!((*this)[i] == other[i])) return false;
        return true;
    }
};
