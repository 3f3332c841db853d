#pragma once

// Hears every change to the enabled calendars and task lists, whoever makes it: one client per
// source reports its calendar's revision, and the registry reports sources added, removed or
// edited. Bursts become one notice. Main context only.

#include <libecal/libecal.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gobject_ptr.h"

namespace lumory::cal::eds {

class CalendarMonitor {
public:
    // Opening every calendar before the ready notice; a stuck backend must not hold start-up.
    static constexpr std::chrono::milliseconds kOpeningLimit{10'000};

    struct Hooks {
        // After a burst of changes, once.
        std::function<void()> changed;
        // The last watch being opened now has its baseline revision (or was given up on).
        std::function<void()> allOpen;
        // A watched calendar's backend ended; called from inside the dying client's signal.
        std::function<void()> backendDied;
    };

    explicit CalendarMonitor(Hooks hooks);
    ~CalendarMonitor();
    CalendarMonitor(const CalendarMonitor&) = delete;
    CalendarMonitor& operator=(const CalendarMonitor&) = delete;

    // Watches every enabled source of `registry` not watched yet, and the sources it adds or
    // removes from now on. Null: nothing to watch.
    void watchAll(ESourceRegistry* registry);
    // After the calendar factory or a backend restarted, the old clients hear nothing more.
    // Changes made meanwhile cannot be told apart, so one notice covers them.
    void rewatchAll(ESourceRegistry* registry);
    // Drops every watch, the registry and a notice not given yet.
    void stop();

    // Watches not yet open with a known revision.
    int opening() const { return openingWatches; }
    // Serves the main context until every watch is open, at most `limit`.
    void waitUntilOpen(std::chrono::milliseconds limit);

private:
    struct Watch;
    struct OpenRequest;
    struct BaselineWait;

    void follow(ESourceRegistry* registry);
    void dropWatches();
    void watchSource(ESource* source);
    void unwatchSource(ESource* source);
    // A watch is open with its revision known (or given up on); ends its count in openingWatches.
    void settle(Watch& watch);
    void watchSettled();
    void scheduleChange();
    static std::string cachedRevision(EClient* client);

    static void onSourceChanged(ESourceRegistry*, ESource* source, gpointer self);
    static void onSourceAdded(ESourceRegistry*, ESource* source, gpointer self);
    static void onSourceRemoved(ESourceRegistry*, ESource* source, gpointer self);
    static void onClientOpened(GObject*, GAsyncResult* result, gpointer request);
    static void onBackendPropertyChanged(EClient* client, const char* name, const char* value,
                                         gpointer self);
    static void onBackendDied(EClient*, gpointer self);
    static gboolean onChangeDue(gpointer self);

    Hooks hooks;
    GObjectPtr<ESourceRegistry> registry;
    std::vector<gulong> registryHandlers;
    std::map<std::string, std::unique_ptr<Watch>> watches;  // by source uid
    int openingWatches = 0;
    guint changeTimer = 0;
};

}  // namespace lumory::cal::eds
