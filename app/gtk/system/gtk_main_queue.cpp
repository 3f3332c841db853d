#include "gtk/system/gtk_main_queue.h"

#include <glib.h>

namespace lumory::gtk {

namespace {

class TimeoutWorkItem : public WorkItem {
public:
    TimeoutWorkItem(std::chrono::milliseconds delay, std::function<void()> work)
        : work_(std::move(work)) {
        sourceId_ = g_timeout_add(static_cast<guint>(delay.count()), &TimeoutWorkItem::fire, this);
    }
    ~TimeoutWorkItem() override { cancel(); }

    void cancel() override {
        if (sourceId_ != 0) g_source_remove(sourceId_);
        sourceId_ = 0;
    }

private:
    static gboolean fire(gpointer data) {
        auto* self = static_cast<TimeoutWorkItem*>(data);
        self->sourceId_ = 0;
        // Moved out first: the work may cancel or replace the item that runs it.
        auto work = std::move(self->work_);
        work();
        return G_SOURCE_REMOVE;
    }

    std::function<void()> work_;
    guint sourceId_ = 0;
};

}  // namespace

void GtkMainQueue::post(std::function<void()> work) {
    auto* boxed = new std::function<void()>(std::move(work));
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        boxed, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

std::unique_ptr<WorkItem> GtkMainQueue::schedule(std::chrono::milliseconds delay,
                                                 std::function<void()> work) {
    return std::make_unique<TimeoutWorkItem>(delay, std::move(work));
}

}  // namespace lumory::gtk
