#include "gtk/notifications/event_sound.h"

#include <canberra-gtk.h>

#include <string>

#include "gtk/test_probe.h"
#include "notifications/desktop_notification_center.h"

namespace lumory::gtk {

void playNotificationSound(GtkWindow* window) {
    std::string sound(kNotificationSoundName);
    if (window != nullptr) {
        ca_gtk_play_for_widget(GTK_WIDGET(window), 0, CA_PROP_EVENT_ID, sound.c_str(),
                               CA_PROP_EVENT_DESCRIPTION, "Task reminder", nullptr);
    } else {
        ca_context_play(ca_gtk_context_get(), 0, CA_PROP_EVENT_ID, sound.c_str(),
                        CA_PROP_EVENT_DESCRIPTION, "Task reminder", nullptr);
    }
    if (testProbeEnabled()) emitTestProbe({{"event", "event-sound"}, {"sound", sound}});
}

}  // namespace lumory::gtk
