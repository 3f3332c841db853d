#pragma once

#include <memory>

namespace lumory {

template <typename T>
class Lifetime;

// A reference to an object that may be gone by the time a callback runs: `get()` answers null
// from then on. Callbacks from the main loop, D-Bus, pipes and timers hold one of these instead
// of the object itself.
template <typename T>
class WeakHandle {
public:
    WeakHandle() = default;
    T* get() const {
        auto anchor = anchor_.lock();
        return anchor ? *anchor : nullptr;
    }
    bool expired() const { return anchor_.expired(); }

private:
    friend class Lifetime<T>;
    explicit WeakHandle(std::weak_ptr<T*> anchor) : anchor_(std::move(anchor)) {}
    std::weak_ptr<T*> anchor_;
};

// Held as a member by the object it names, so every handle taken from it expires exactly when
// the object is destroyed. Declare it last, so it goes first.
template <typename T>
class Lifetime {
public:
    explicit Lifetime(T* owner) : anchor_(std::make_shared<T*>(owner)) {}
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    WeakHandle<T> weak() const { return WeakHandle<T>(anchor_); }
    // Expires every handle now, for an owner whose destructor must stop callbacks before it
    // tears down what they would touch.
    void end() { anchor_.reset(); }

private:
    std::shared_ptr<T*> anchor_;
};

}  // namespace lumory
