#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace lumory::testing {

// A private X display for one test, stopped when the object goes.
class XvfbDisplay {
public:
    XvfbDisplay(int width = 1600, int height = 1000);
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    bool started() const { return !name_.empty(); }
    // ":N"
    const std::string& name() const { return name_; }
    // Saves the whole screen as a PNG (ImageMagick's import).
    bool screenshot(const std::string& path) const;
    // Takes screenshots until one shows more than a blank window (the web view paints its first
    // frame a while after the page reports itself loaded) or `timeoutMs` passes.
    bool screenshotOnceDrawn(const std::string& path, int timeoutMs) const;
    // The same, looking only at the rectangle at (x, y) of `width` x `height`: for a window that
    // opens over another one already drawn.
    bool screenshotOnceDrawn(const std::string& path, int timeoutMs, int x, int y, int width,
                             int height) const;

private:
    pid_t pid_ = -1;
    std::string name_;
};

// The colour of one pixel of a PNG as ImageMagick names it ("srgb(254,91,2)"), or "".
std::string pixelColour(const std::string& path, int x, int y);

// A PNG's pixels, 8-bit RGB, row by row; empty when it could not be read.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    const unsigned char* at(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};
Pixels readPixels(const std::string& path);

// Runs `argv` with `environment` added, waits up to `timeoutMs`; true when it exited with 0.
bool runAndWait(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                int timeoutMs);

}  // namespace lumory::testing
