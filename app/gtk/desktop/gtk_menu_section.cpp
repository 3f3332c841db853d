#include "gtk/desktop/gtk_menu_section.h"

#include <algorithm>

namespace lumory::gtk {

namespace {

// Action names stay unique across sections that come and go.
unsigned nextSectionNumber = 0;

}  // namespace

struct GtkMenuSection::Entry {
    WeakHandle<GtkMenuSection> self;
    std::function<void()> action;
};

GtkMenuSection::GtkMenuSection(GtkApplication* application, GMenu* menu,
                               ContextMenuItems& contextItems)
    : application_(application),
      menu_(GObjectPtr<GMenu>::retain(menu)),
      section_(g_menu_new()),
      contextItems_(contextItems) {
    g_menu_append_section(menu_.get(), nullptr, G_MENU_MODEL(section_.get()));
}

GtkMenuSection::~GtkMenuSection() {
    clear();
    GMenuModel* model = G_MENU_MODEL(menu_.get());
    for (int i = g_menu_model_get_n_items(model) - 1; i >= 0; --i) {
        GObjectPtr<GMenuModel> link(g_menu_model_get_item_link(model, i, G_MENU_LINK_SECTION));
        if (link.get() == G_MENU_MODEL(section_.get())) g_menu_remove(menu_.get(), i);
    }
}

void GtkMenuSection::clear() {
    for (const auto& action : actions_) {
        std::erase_if(contextItems_, [&](const auto& item) {
            return item.second.get() == G_ACTION(action.get());
        });
    }
    for (const std::string& name : actionNames_) {
        g_action_map_remove_action(G_ACTION_MAP(application_), name.c_str());
    }
    // The items are often removed by one of their own actions while it runs; the actions stay
    // alive until it has returned.
    if (!actions_.empty()) {
        g_idle_add(
            [](gpointer data) -> gboolean {
                delete static_cast<std::vector<GObjectPtr<GSimpleAction>>*>(data);
                return G_SOURCE_REMOVE;
            },
            new std::vector<GObjectPtr<GSimpleAction>>(std::move(actions_)));
    }
    actions_.clear();
    actionNames_.clear();
    actionOfItem_.clear();
    g_menu_remove_all(section_.get());
}

void GtkMenuSection::setItems(const std::vector<StatusMenuItem>& items) {
    clear();
    unsigned section = nextSectionNumber++;
    for (const StatusMenuItem& item : items) {
        if (item.isSeparator()) {
            actionOfItem_.push_back(-1);
            continue;
        }
        actionOfItem_.push_back(static_cast<int>(actions_.size()));
        std::string name =
            "section-" + std::to_string(section) + "-" + std::to_string(actions_.size());
        GSimpleAction* action =
            item.checkable ? g_simple_action_new_stateful(name.c_str(), nullptr,
                                                          g_variant_new_boolean(item.checked))
                           : g_simple_action_new(name.c_str(), nullptr);
        // Connected to "activate", so a check item's state changes only when the shell says.
        g_signal_connect_data(
            action, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer data) {
                auto* entry = static_cast<Entry*>(data);
                if (entry->self.expired() || !entry->action) return;
                std::function<void()> run = entry->action;
                run();
            }),
            new Entry{lifetime_.weak(), item.action},
            [](gpointer data, GClosure*) { delete static_cast<Entry*>(data); }, GConnectFlags(0));
        g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(action));
        std::string detailed = "app." + name;
        GObjectPtr<GMenuItem> menuItem(g_menu_item_new(item.title.c_str(), detailed.c_str()));
        g_menu_append_item(section_.get(), menuItem.get());
        contextItems_.emplace_back(item.title, GObjectPtr<GAction>::retain(G_ACTION(action)));
        actionNames_.push_back(name);
        actions_.push_back(GObjectPtr<GSimpleAction>(action));
    }
}

void GtkMenuSection::setItemChecked(size_t index, bool checked) {
    // Separators have no action, so items and actions are counted apart.
    if (index >= actionOfItem_.size() || actionOfItem_[index] < 0) return;
    GSimpleAction* action = actions_[static_cast<size_t>(actionOfItem_[index])].get();
    GVariant* state = g_action_get_state(G_ACTION(action));
    if (state == nullptr) return;
    g_variant_unref(state);
    g_simple_action_set_state(action, g_variant_new_boolean(checked));
}

}  // namespace lumory::gtk
