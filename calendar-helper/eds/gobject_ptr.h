#pragma once

#include <glib-object.h>

#include <utility>

namespace lumory::cal::eds {

// Owns one reference to a GObject.
template <typename T>
class GObjectPtr {
public:
    GObjectPtr() = default;
    // Takes over a reference the caller owns (a `_new` or `_sync` result).
    static GObjectPtr adopt(T* object) {
        GObjectPtr result;
        result.object = object;
        return result;
    }
    // Adds a reference of its own.
    static GObjectPtr share(T* object) {
        return adopt(object != nullptr ? static_cast<T*>(g_object_ref(object)) : nullptr);
    }
    GObjectPtr(const GObjectPtr& other) : object(nullptr) { *this = share(other.object); }
    GObjectPtr(GObjectPtr&& other) noexcept : object(std::exchange(other.object, nullptr)) {}
    GObjectPtr& operator=(GObjectPtr other) noexcept {
        std::swap(object, other.object);
        return *this;
    }
    ~GObjectPtr() {
        if (object != nullptr) g_object_unref(object);
    }

    T* get() const { return object; }
    T* operator->() const { return object; }
    explicit operator bool() const { return object != nullptr; }
    void reset() { *this = GObjectPtr(); }

private:
    T* object = nullptr;
};

}  // namespace lumory::cal::eds
