#pragma once

#include <glib-object.h>

#include <utility>

namespace lumory {

// Owns one reference to a GObject, for the shell's GTK side and the calendar helper's EDS side
// alike.
template <typename T>
class GObjectPtr {
public:
    GObjectPtr() = default;
    // Takes over a reference the caller owns (a "transfer full" result: `_new`, `_sync`).
    explicit GObjectPtr(T* owned) : object_(owned) {}
    GObjectPtr(const GObjectPtr& other) : object_(other.object_) {
        if (object_ != nullptr) g_object_ref(object_);
    }
    GObjectPtr(GObjectPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GObjectPtr& operator=(GObjectPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GObjectPtr() {
        if (object_ != nullptr) g_object_unref(object_);
    }

    // The same as the constructor, where a name reads better at the call.
    static GObjectPtr adopt(T* owned) { return GObjectPtr(owned); }
    // Adds a reference of its own to an object owned elsewhere (a "transfer none" value).
    static GObjectPtr retain(T* borrowed) {
        if (borrowed != nullptr) g_object_ref(borrowed);
        return GObjectPtr(borrowed);
    }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void reset() { *this = GObjectPtr(); }

private:
    T* object_ = nullptr;
};

}  // namespace lumory
