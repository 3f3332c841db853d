#pragma once

namespace lumory {

struct Point {
    double x = 0;
    double y = 0;
};

struct Size {
    double width = 0;
    double height = 0;
};

}  // namespace lumory
