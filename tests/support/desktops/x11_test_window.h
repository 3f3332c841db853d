#pragma once

#include <string>

namespace lumory::testing {

// Another application's window on a desktop's X server: something else for the user to have in
// front. Mapped at the place and size asked for (as a user-placed window) until the object goes.
class X11TestWindow {
public:
    X11TestWindow(const std::string& displayName, const std::string& title, int x, int y, int width,
                  int height);
    ~X11TestWindow();
    X11TestWindow(const X11TestWindow&) = delete;
    X11TestWindow& operator=(const X11TestWindow&) = delete;

    bool mapped() const { return window_ != 0; }

private:
    void* display_ = nullptr;
    unsigned long window_ = 0;
};

}  // namespace lumory::testing
