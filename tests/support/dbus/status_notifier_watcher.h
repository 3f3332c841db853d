#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumory::testing {

struct StatusNotifierItemAddress {
    std::string service;  // the item's bus name
    std::string path;     // its object path
};

struct StatusMenuEntry {
    int id = 0;
    std::string type;  // "standard" or "separator"
    std::string label;
    std::string toggleType;  // "checkmark", "radio" or empty
    int toggleState = -1;
};

// A StatusNotifierWatcher on a private session bus (the part of a desktop's status area that
// items register with), plus the calls a status area makes on an item: its properties, its
// com.canonical.dbusmenu layout and a click on a menu entry. Stopped when the object goes.
class StatusNotifierWatcher {
public:
    explicit StatusNotifierWatcher(const std::string& busAddress);
    ~StatusNotifierWatcher();
    StatusNotifierWatcher(const StatusNotifierWatcher&) = delete;
    StatusNotifierWatcher& operator=(const StatusNotifierWatcher&) = delete;

    // True once the watcher owns org.kde.StatusNotifierWatcher.
    bool started() const;
    // The first item registered, waiting up to `timeout` for one.
    std::optional<StatusNotifierItemAddress> waitForItem(std::chrono::milliseconds timeout);
    // Every registration so far, in order (an item that comes back registers again).
    std::vector<StatusNotifierItemAddress> items() const;
    // A string property of org.kde.StatusNotifierItem; nothing when the item does not answer.
    std::optional<std::string> itemProperty(const StatusNotifierItemAddress& item,
                                            const std::string& name);
    // The top level of the item's menu, in order; empty when it has none.
    std::vector<StatusMenuEntry> menu(const StatusNotifierItemAddress& item);
    // Sends the "clicked" event a status area sends when the user chooses the entry.
    bool click(const StatusNotifierItemAddress& item, int id);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace lumory::testing
