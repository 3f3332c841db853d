#pragma once

#include <gtk/gtk.h>

#include <functional>

#include "alerts.h"

namespace lumory::gtk {

// Message dialogs and the file chooser, modal on whatever window `parent` names at the time.
class GtkAlerts : public Alerts {
public:
    explicit GtkAlerts(std::function<GtkWindow*()> parent) : parent_(std::move(parent)) {}

    void beginSheet(const AlertSpec& spec, std::function<void(AlertResponse)> done) override;
    void beginOpenPanel(const OpenPanelOptions& options,
                        std::function<void(std::optional<std::vector<std::string>>)> done) override;

private:
    std::function<GtkWindow*()> parent_;
};

}  // namespace lumory::gtk
