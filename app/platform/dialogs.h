#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumory {

// A dialog the shell shows over its main window.
struct MessageDialogSpec {
    std::string text;
    std::string secondaryText;       // empty for none
    std::vector<std::string> buttons;  // in order; the first is the default (Enter)
    // When set, the dialog carries a text field holding this text (a prompt).
    std::optional<std::string> textField;
};

struct DialogResponse {
    // Index into `buttons`; -1 when the dialog was dismissed otherwise (Escape, window gone).
    int button = -1;
    std::string text;  // the text field's content; empty without one
};

struct FileChooserOptions {
    bool allowsDirectories = false;
    bool allowsMultipleSelection = false;
};

// Modal dialogs attached to the main window. Each completion runs exactly once, on the main
// thread, also when the dialog goes away without an answer.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void showMessageDialog(const MessageDialogSpec& spec, std::function<void(DialogResponse)> done) = 0;
    // `done` gets the chosen files as file:// URLs, or nothing when cancelled.
    virtual void chooseFiles(
        const FileChooserOptions& options,
        std::function<void(std::optional<std::vector<std::string>>)> done) = 0;
};

}  // namespace lumory
