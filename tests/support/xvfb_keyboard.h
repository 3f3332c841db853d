#pragma once

#include <string>
#include <vector>

namespace lumory::testing {

// Types on a test display through XTest, as a user at its keyboard would.
class XvfbKeyboard {
public:
    explicit XvfbKeyboard(const std::string& displayName);
    ~XvfbKeyboard();
    XvfbKeyboard(const XvfbKeyboard&) = delete;
    XvfbKeyboard& operator=(const XvfbKeyboard&) = delete;

    bool connected() const { return display_ != nullptr; }
    // Puts the pointer at (x, y); without a window manager keyboard focus follows it.
    void movePointer(int x, int y);
    // Presses the keys in order (X key names such as "Control_L", "t") and releases them in
    // reverse: one chord.
    bool chord(const std::vector<std::string>& keys);

private:
    void* display_ = nullptr;
};

}  // namespace lumory::testing
