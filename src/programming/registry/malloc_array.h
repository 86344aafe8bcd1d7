// MallocArray: a growable array of trivially copyable elements whose block
// comes from malloc and whose growth reports failure instead of aborting.
// The bulk call's bookkeeping uses it: a failed allocation there must take
// the call's changes back, like any other failed allocation of the call.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace ostrel {

template <typename T> class MallocArray {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    MallocArray() = default;
    ~MallocArray() { std::free(data_); }
    MallocArray(const MallocArray &) = delete;
    MallocArray &operator=(const MallocArray &) = delete;

    // Room for `more` further elements. False, with nothing changed, when
    // it cannot be allocated.
    [[nodiscard]] bool reserve(size_t more) {
        if (capacity_ - size_ >= more) {
            return true;
        }
        size_t capacity = capacity_ == 0 ? 16 : capacity_;
        while (capacity - size_ < more) {
            capacity *= 2;
        }
        // malloc and copy rather than realloc: every block comes from
        // malloc and goes back with free.
        auto *grown = static_cast<T *>(std::malloc(capacity * sizeof(T)));
        if (grown == nullptr) {
            return false;
        }
        if (size_ != 0) {
            std::memcpy(grown, data_, size_ * sizeof(T));
        }
        std::free(data_);
        data_ = grown;
        capacity_ = capacity;
        return true;
    }
    // Appends value; room must have been reserved.
    void push(const T &value) { data_[size_++] = value; }
    void pop() { --size_; }
    void clear() { size_ = 0; }

    T *begin() { return data_; }
    T *end() { return data_ + size_; }
    T &operator[](size_t i) { return data_[i]; }
    T &back() { return data_[size_ - 1]; }
    size_t size() const { return size_; }

  private:
    T *data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

} // namespace ostrel
