#pragma once

#include <utility>

namespace forth {

// A counted reference to a heap object that carries its own count
// (`references`) and says how it goes when the last reference does
// (`dispose`, found by argument-dependent lookup). The interpreter runs on
// one thread, so the count is a plain integer: sharing a token list costs an
// increment, not an atomic operation.
template <typename T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* object) : object_(object) {
        if (object_ != nullptr) ++object_->references;
    }
    Ref(const Ref& other) : Ref(other.object_) {}
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    // Loops set the same list again and again: that costs nothing.
    Ref& operator=(const Ref& other) noexcept {
        if (object_ != other.object_) Ref(other).swap(*this);
        return *this;
    }
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }
    void swap(Ref& other) noexcept { std::swap(object_, other.object_); }

    // Makes `a` and `b` both hold `object`, as assigning it to each would;
    // when they held the same object, with one change of each count.
    static void assign_both(Ref& a, Ref& b, T* object) {
        if (a.object_ != b.object_) {
            a = Ref(object);
            b = a;
            return;
        }
        if (a.object_ == object) return;
        if (object != nullptr) object->references += 2;
        T* const old = std::exchange(a.object_, object);
        b.object_ = object;
        if (old != nullptr && (old->references -= 2) == 0) dispose(old);
    }
    ~Ref() {
        if (object_ != nullptr && --object_->references == 0) dispose(object_);
    }

    T* get() const { return object_; }
    T& operator*() const { return *object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

}  // namespace forth
