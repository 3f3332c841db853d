#pragma once

#include <gtk/gtk.h>

#include <functional>

#include "platform/dialogs.h"

namespace lumory::gtk {

// Message dialogs and the file chooser, modal on whatever window `parent` names at the time.
class GtkDialogs : public Dialogs {
public:
    explicit GtkDialogs(std::function<GtkWindow*()> parent) : parent_(std::move(parent)) {}

    void showMessageDialog(const MessageDialogSpec& spec,
                           std::function<void(DialogResponse)> done) override;
    void chooseFiles(const FileChooserOptions& options,
                     std::function<void(std::optional<std::vector<std::string>>)> done) override;

private:
    std::function<GtkWindow*()> parent_;
};

}  // namespace lumory::gtk
