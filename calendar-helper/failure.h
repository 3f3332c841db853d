#pragma once

#include <string>

namespace lumory::cal {

// The helper's one error type: operations that apply request fields throw it, and the command
// handler turns it into an error reply carrying `message` word for word.
struct Failure {
    std::string message;
    const std::string& errorDescription() const { return message; }
};

}  // namespace lumory::cal
