#pragma once

#include <string>
#include <vector>

namespace lumory::testing {

// Types and clicks on a test display through XTest, as a user at its keyboard and mouse would.
class XvfbInput {
public:
    explicit XvfbInput(const std::string& displayName);
    ~XvfbInput();
    XvfbInput(const XvfbInput&) = delete;
    XvfbInput& operator=(const XvfbInput&) = delete;

    bool connected() const { return display_ != nullptr; }
    // Puts the pointer at (x, y); without a window manager keyboard focus follows it.
    void movePointer(int x, int y);
    // Lets keyboard focus follow the pointer again (as it does before any window took focus),
    // so a window is no longer active once the pointer leaves it.
    void focusFollowsPointer();
    // Presses the keys in order (X key names such as "Control_L", "t") and releases them in
    // reverse: one chord.
    bool chord(const std::vector<std::string>& keys);
    // Clicks `button` (1 primary, 3 secondary) at (x, y).
    void click(int button, int x, int y);
    // Presses the primary button at (x, y), moves to (toX, toY) in small steps, releases.
    void drag(int x, int y, int toX, int toY);

private:
    void* display_ = nullptr;
};

}  // namespace lumory::testing
