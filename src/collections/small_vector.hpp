#pragma once
// A vector of trivially copyable values that keeps its first N elements in
// place and spills to the heap beyond that. Used for the bracket stacks and
// event queues, which are shallow for ordinary documents.

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <vector>

namespace kogane {

template <typename T, size_t N>
class SmallVector {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    SmallVector() = default;

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool spilled() const { return !heap_.empty(); }

    T* data() { return heap_.empty() ? inline_ : heap_.data(); }
    const T* data() const { return heap_.empty() ? inline_ : heap_.data(); }

    T& operator[](size_t i) { return data()[i]; }
    const T& operator[](size_t i) const { return data()[i]; }
    T& back() { return data()[size_ - 1]; }
    const T& back() const { return data()[size_ - 1]; }
    T* begin() { return data(); }
    T* end() { return data() + size_; }
    const T* begin() const { return data(); }
    const T* end() const { return data() + size_; }

    void push_back(const T& value) {
        if (heap_.empty()) {
            if (size_ < N) {
                inline_[size_++] = value;
                return;
            }
            heap_.reserve(N * 2);
            heap_.assign(inline_, inline_ + size_);
        }
        if (heap_.size() > size_) heap_.resize(size_);
        heap_.push_back(value);
        ++size_;
    }

    void pop_back() { --size_; }

    // Drops the element at index i, keeping order.
    void erase_at(size_t i) {
        T* d = data();
        std::memmove(static_cast<void*>(d + i), d + i + 1, (size_ - i - 1) * sizeof(T));
        --size_;
    }

    size_t capacity() const { return heap_.empty() ? N : heap_.capacity(); }
    void reserve(size_t n) {
        if (n <= capacity()) return;
        if (heap_.empty()) {
            heap_.reserve(n);
            heap_.assign(inline_, inline_ + size_);
            return;
        }
        if (heap_.size() > size_) heap_.resize(size_);
        heap_.reserve(n);
    }

    void truncate(size_t n) {
        if (n < size_) size_ = n;
    }
    void clear() { size_ = 0; }

private:
    T inline_[N] = {};
    std::vector<T> heap_;
    size_t size_ = 0;
};

}  // namespace kogane
