#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

namespace forth {

// The data stack: a growable array of doubles, top last. It is a flat
// array of its own rather than a std::vector so that the evaluator may keep
// the top and the stack pointer in registers and write them back only
// around code that looks at the stack (see engine/machine.cpp). One slot
// below the first value is always allocated, so that the evaluator may
// store a cached top of an empty stack without a test.
class Stack {
public:
    using value_type = double;
    using iterator = double*;
    using const_iterator = const double*;

    Stack() { allocate(initial_capacity); }
    ~Stack() { std::free(base_ - 1); }
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;

    std::size_t size() const { return static_cast<std::size_t>(top_ + 1 - base_); }
    bool empty() const { return top_ < base_; }
    std::size_t capacity() const { return static_cast<std::size_t>(end_ - base_); }

    double& back() { return *top_; }
    double back() const { return *top_; }
    double& operator[](std::size_t index) { return base_[index]; }
    double operator[](std::size_t index) const { return base_[index]; }
    double* begin() { return base_; }
    double* end() { return top_ + 1; }
    const double* begin() const { return base_; }
    const double* end() const { return top_ + 1; }

    void push_back(double value) {
        if (top_ + 1 == end_) [[unlikely]]
            grow(1);
        *++top_ = value;
    }
    void pop_back() { --top_; }
    void clear() { top_ = base_ - 1; }

    // Makes room for `count` more values.
    void reserve_more(std::size_t count) {
        if (static_cast<std::size_t>(end_ - (top_ + 1)) < count) grow(count);
    }

    // What the evaluator keeps in registers: the top's slot (one below the
    // first value when empty), set back when it writes them back.
    double* top_slot() const { return top_; }
    void set_top_slot(double* top) { top_ = top; }
    double* first_slot() const { return base_; }
    double* end_slot() const { return end_; }

    friend bool operator==(const Stack& stack, const std::vector<double>& values) {
        return std::equal(stack.begin(), stack.end(), values.begin(), values.end());
    }

private:
    static constexpr std::size_t initial_capacity = 64;

    void allocate(std::size_t capacity) {
        auto* memory = static_cast<double*>(std::malloc((capacity + 1) * sizeof(double)));
        if (memory == nullptr) throw std::bad_alloc();
        base_ = memory + 1;
        top_ = base_ - 1;
        end_ = base_ + capacity;
    }

    [[gnu::cold, gnu::noinline]] void grow(std::size_t count) {
        const std::size_t size = this->size();
        const std::size_t capacity = std::max(2 * this->capacity(), size + count);
        auto* memory = static_cast<double*>(std::realloc(base_ - 1, (capacity + 1) * sizeof(double)));
        if (memory == nullptr) throw std::bad_alloc();
        base_ = memory + 1;
        top_ = base_ + size - 1;
        end_ = base_ + capacity;
    }

    double* base_ = nullptr;
    double* top_ = nullptr;
    double* end_ = nullptr;
};

}  // namespace forth
