#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumory {

// A dialog the shell shows over its main window.
struct AlertSpec {
    std::string messageText;
    std::string informativeText;       // empty for none
    std::vector<std::string> buttons;  // in order; the first is the default (Enter)
    // When set, the dialog carries a text field holding this text (a prompt).
    std::optional<std::string> textField;
};

struct AlertResponse {
    // Index into `buttons`; -1 when the dialog was dismissed otherwise (Escape, window gone).
    int button = -1;
    std::string text;  // the text field's content; empty without one
};

struct OpenPanelOptions {
    bool allowsDirectories = false;
    bool allowsMultipleSelection = false;
};

// Modal dialogs attached to the main window. Each completion runs exactly once, on the main
// thread, also when the dialog goes away without an answer.
class Alerts {
public:
    virtual ~Alerts() = default;
    virtual void beginSheet(const AlertSpec& spec, std::function<void(AlertResponse)> done) = 0;
    // `done` gets the chosen files as file:// URLs, or nothing when cancelled.
    virtual void beginOpenPanel(
        const OpenPanelOptions& options,
        std::function<void(std::optional<std::vector<std::string>>)> done) = 0;
};

}  // namespace lumory
