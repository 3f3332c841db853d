#include "gtk/desktop/menu_bar_model.h"

#include "gtk/test_probe.h"
#include "shell/menu_bar.h"

namespace lumory::gtk {

struct MenuBarModel::ActionEntry {
    MenuBarModel* menus;
    MenuAction action;
};

namespace {

GObjectPtr<GMenuItem> menuItem(const std::string& title, const std::string& detailed,
                               const std::string& accelerator) {
    GObjectPtr<GMenuItem> item(g_menu_item_new(title.c_str(), detailed.c_str()));
    if (!accelerator.empty()) {
        g_menu_item_set_attribute(item.get(), "accel", "s", accelerator.c_str());
    }
    return item;
}

}  // namespace

MenuBarModel::MenuBarModel(GtkApplication* application, std::function<void()> itemActivated)
    : application_(application), itemActivated_(std::move(itemActivated)) {}

MenuBarModel::~MenuBarModel() {
    for (size_t i = 0; i < actions_.size(); ++i) {
        g_action_map_remove_action(G_ACTION_MAP(application_),
                                   ("menu-" + std::to_string(i)).c_str());
    }
}

void MenuBarModel::set(const MenuBar& menuBar, std::function<void(const MenuAction&)> perform) {
    perform_ = std::move(perform);
    fullScreenItem_.reset();
    menuModel_ = GObjectPtr<GMenu>(g_menu_new());
    contextMenus_.clear();
    for (const Menu& menu : menuBar) {
        ContextMenu& contextMenu = contextMenus_.emplace_back();
        contextMenu.title = menu.title;
        GObjectPtr<GMenu> submenu(g_menu_new());
        GObjectPtr<GMenu> section(g_menu_new());
        for (const MenuItem& item : menu.items) {
            if (item.isSeparator()) {
                contextMenu.items.emplace_back(std::string(), GObjectPtr<GAction>());
                g_menu_append_section(submenu.get(), nullptr, G_MENU_MODEL(section.get()));
                section = GObjectPtr<GMenu>(g_menu_new());
                continue;
            }
            std::string name = "menu-" + std::to_string(actions_.size());
            auto entry = std::make_unique<ActionEntry>(ActionEntry{this, item.action});
            GSimpleAction* action = g_simple_action_new(name.c_str(), nullptr);
            g_signal_connect(action, "activate",
                             G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer data) {
                                 auto* entry = static_cast<ActionEntry*>(data);
                                 if (entry->menus->itemActivated_) entry->menus->itemActivated_();
                                 if (entry->menus->perform_) entry->menus->perform_(entry->action);
                             }),
                             entry.get());
            g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(action));
            contextMenu.items.emplace_back(item.title, GObjectPtr<GAction>(G_ACTION(action)));

            std::string detailed = "app." + name;
            std::string accelerator = acceleratorFor(item);
            if (!accelerator.empty()) {
                const char* accels[] = {accelerator.c_str(), nullptr};
                gtk_application_set_accels_for_action(application_, detailed.c_str(), accels);
            }
            auto* standard = std::get_if<StandardAction>(&item.action);
            if (standard && *standard == StandardAction::ToggleFullScreen) {
                fullScreenItem_ =
                    RetitledItem{GObjectPtr<GMenu>::retain(section.get()),
                                 g_menu_model_get_n_items(G_MENU_MODEL(section.get())),
                                 detailed,
                                 accelerator,
                                 contextMenus_.size() - 1,
                                 contextMenu.items.size() - 1};
            }
            g_menu_append_item(section.get(), menuItem(item.title, detailed, accelerator).get());
            actions_.push_back(std::move(entry));
        }
        g_menu_append_section(submenu.get(), nullptr, G_MENU_MODEL(section.get()));
        g_menu_append_submenu(menuModel_.get(), menu.title.c_str(), G_MENU_MODEL(submenu.get()));
    }
}

// A menu model item cannot change its label: it is replaced in place.
void MenuBarModel::showFullScreenState(bool fullScreen) {
    if (!fullScreenItem_) return;
    RetitledItem& item = *fullScreenItem_;
    std::string title = fullScreenItemTitle(fullScreen);
    g_menu_remove(item.section.get(), item.position);
    g_menu_insert_item(item.section.get(), item.position,
                       menuItem(title, item.detailed, item.accelerator).get());
    contextMenus_[item.contextMenu].items[item.contextItem].first = title;
    emitTestProbe({{"event", "menu-item"}, {"title", title}});
}

std::unique_ptr<MenuSection> MenuBarModel::addSection(const std::string& menuTitle) {
    if (!menuModel_) return nullptr;
    GMenuModel* bar = G_MENU_MODEL(menuModel_.get());
    for (int i = 0; i < g_menu_model_get_n_items(bar); ++i) {
        g_autofree char* label = nullptr;
        if (!g_menu_model_get_item_attribute(bar, i, G_MENU_ATTRIBUTE_LABEL, "s", &label) ||
            menuTitle != label) {
            continue;
        }
        GObjectPtr<GMenuModel> submenu(g_menu_model_get_item_link(bar, i, G_MENU_LINK_SUBMENU));
        if (!submenu || !G_IS_MENU(submenu.get())) return nullptr;
        return std::make_unique<GtkMenuSection>(application_, G_MENU(submenu.get()),
                                                addedContextItems_[menuTitle]);
    }
    return nullptr;
}

const ContextMenuItems* MenuBarModel::addedContextItems(const std::string& menuTitle) const {
    auto added = addedContextItems_.find(menuTitle);
    return added != addedContextItems_.end() ? &added->second : nullptr;
}

}  // namespace lumory::gtk
