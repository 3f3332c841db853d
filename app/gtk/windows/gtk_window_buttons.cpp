#include "gtk/windows/gtk_window_buttons.h"

#include <webkit2/webkit2.h>

#include <cmath>
#include <string>

#include "gtk/test_probe.h"
#include "page/page_scripts.h"

namespace lumory::gtk {

namespace {

constexpr char kGroupName[] = "lumory-window-buttons";

struct ButtonLook {
    const char* styleClass;
    const char* accessibleName;
    const char* iconName;
};

const char* probeName(WindowButton button) {
    switch (button) {
        case WindowButton::Close:
            return "close";
        case WindowButton::Minimize:
            return "minimize";
        case WindowButton::Maximize:
            return "maximize";
    }
    return "";
}

ButtonLook lookOf(WindowButton button, bool maximized) {
    switch (button) {
        case WindowButton::Close:
            return {"close", "Close", "window-close-symbolic"};
        case WindowButton::Minimize:
            return {"minimize", "Minimize", "window-minimize-symbolic"};
        case WindowButton::Maximize:
            break;
    }
    return maximized ? ButtonLook{"maximize", "Restore", "window-restore-symbolic"}
                     : ButtonLook{"maximize", "Maximize", "window-maximize-symbolic"};
}

void setAccessibleName(GtkWidget* widget, const char* name) {
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    if (accessible != nullptr) atk_object_set_name(accessible, name);
}

// GTK draws a button inside its allocation, less the theme's CSS margin.
GtkBorder cssMargin(GtkWidget* widget) {
    GtkStyleContext* style = gtk_widget_get_style_context(widget);
    GtkBorder margin{};
    gtk_style_context_get_margin(style, gtk_style_context_get_state(style), &margin);
    return margin;
}

}  // namespace

GtkWindowButtons::GtkWindowButtons(GtkWindow* window, GtkWidget* content)
    : window_(GTK_WINDOW(g_object_ref(window))) {
    overlay_ = gtk_overlay_new();
    g_object_ref_sink(overlay_);
    gtk_container_add(GTK_CONTAINER(overlay_), content);
    g_signal_connect(overlay_, "get-child-position", G_CALLBACK(&GtkWindowButtons::childPosition),
                     this);
    // Kept apart from the window, which may be gone before this object is.
    settings_ = GTK_SETTINGS(g_object_ref(gtk_widget_get_settings(GTK_WIDGET(window_))));
    layoutChanged_ = g_signal_connect_swapped(
        settings_, "notify::gtk-decoration-layout",
        G_CALLBACK(+[](gpointer self) { static_cast<GtkWindowButtons*>(self)->build(); }), this);
    build();
    g_signal_connect(window_, "key-press-event", G_CALLBACK(&GtkWindowButtons::keyPressed), this);
}

// WebKitGTK hands a Tab that leaves the page to GTK twice: once by moving the focus out of
// the page, once as the unhandled key. The second would skip the first button. A Tab on a
// button is moved here, so that one going into the page lands on a control of the page.
gboolean GtkWindowButtons::keyPressed(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<GtkWindowButtons*>(data);
    if (event->keyval != GDK_KEY_Tab && event->keyval != GDK_KEY_ISO_Left_Tab &&
        event->keyval != GDK_KEY_KP_Tab) {
        return FALSE;
    }
    GtkWidget* focus = gtk_window_get_focus(self->window_);
    GtkWidget* content = gtk_bin_get_child(GTK_BIN(self->overlay_));
    if (focus == content) {
        self->pageTabTime_ = event->time;
        return FALSE;
    }
    bool onButton =
        focus != nullptr && self->group_ != nullptr && gtk_widget_is_ancestor(focus, self->group_);
    if (!onButton) return FALSE;
    if (event->time == self->pageTabTime_ && event->time != GDK_CURRENT_TIME) {
        // The copy goes back to the page all the same: WebKitGTK waits for it, and until it
        // comes it passes the next key meant for the page on to GTK instead.
        gtk_widget_event(content, reinterpret_cast<GdkEvent*>(event));
        return TRUE;
    }
    // Ctrl+Tab and the like keep GTK's own meaning.
    if ((event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK)) != 0) return FALSE;
    bool forward = event->keyval != GDK_KEY_ISO_Left_Tab && (event->state & GDK_SHIFT_MASK) == 0;
    g_signal_emit_by_name(self->window_, "move-focus",
                          forward ? GTK_DIR_TAB_FORWARD : GTK_DIR_TAB_BACKWARD);
    // Back in the page, Tab starts at its first control (Shift+Tab at its last), not after
    // the one that had the focus before it left.
    if (gtk_window_get_focus(self->window_) == content && WEBKIT_IS_WEB_VIEW(content)) {
        std::string script = pageFocusEntryScript(forward);
        webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(content), script.c_str(), -1, nullptr,
                                            nullptr, nullptr, nullptr, nullptr);
    }
    return TRUE;
}

GtkWindowButtons::~GtkWindowButtons() {
    g_signal_handler_disconnect(settings_, layoutChanged_);
    g_signal_handlers_disconnect_by_data(window_, this);
    g_object_unref(window_);
    g_object_unref(settings_);
    g_signal_handlers_disconnect_by_data(overlay_, this);
    g_object_unref(overlay_);
}

void GtkWindowButtons::build() {
    g_autofree char* layout = nullptr;
    g_object_get(settings_, "gtk-decoration-layout", &layout, nullptr);
    arrangement_ = arrangeWindowButtons(layout ? layout : "");
    if (group_ != nullptr) gtk_widget_destroy(group_);
    close_ = maximize_ = maximizeImage_ = nullptr;

    group_ = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_name(group_, kGroupName);
    // Sitting over the page, the group must not pick up the page's right-to-left mirroring.
    gtk_widget_set_direction(group_, GTK_TEXT_DIR_LTR);
    // Placed by the page it sits at the page's left; before that, where a title bar puts it.
    WindowSide side = closeOrigin_ ? WindowSide::Left : arrangement_.side;
    for (WindowButton button : windowButtonsOnSide(arrangement_, side)) {
        ButtonLook look = lookOf(button, maximized_);
        GtkWidget* image = gtk_image_new_from_icon_name(look.iconName, GTK_ICON_SIZE_MENU);
        GtkWidget* widget = gtk_button_new();
        gtk_container_add(GTK_CONTAINER(widget), image);
        GtkStyleContext* style = gtk_widget_get_style_context(widget);
        gtk_style_context_add_class(style, "titlebutton");
        gtk_style_context_add_class(style, look.styleClass);
        gtk_widget_set_valign(widget, GTK_ALIGN_CENTER);
        setAccessibleName(widget, look.accessibleName);
        g_object_set_data(G_OBJECT(widget), "lumory-window-button",
                          GINT_TO_POINTER(static_cast<int>(button) + 1));
        g_signal_connect(
            widget, "clicked", G_CALLBACK(+[](GtkButton* pressed, gpointer data) {
                auto* self = static_cast<GtkWindowButtons*>(data);
                auto which = static_cast<WindowButton>(
                    GPOINTER_TO_INT(g_object_get_data(G_OBJECT(pressed), "lumory-window-button")) -
                    1);
                switch (which) {
                    case WindowButton::Close:
                        // The same path as the desktop's own close request.
                        gtk_window_close(self->window_);
                        break;
                    case WindowButton::Minimize:
                        gtk_window_iconify(self->window_);
                        break;
                    case WindowButton::Maximize:
                        if (self->maximized_) {
                            gtk_window_unmaximize(self->window_);
                        } else {
                            gtk_window_maximize(self->window_);
                        }
                        break;
                }
            }),
            this);
        if (button == WindowButton::Close) close_ = widget;
        if (button == WindowButton::Maximize) {
            maximize_ = widget;
            maximizeImage_ = image;
        }
        gtk_box_pack_start(GTK_BOX(group_), widget, FALSE, FALSE, 0);
    }
    gtk_widget_set_halign(group_, GTK_ALIGN_START);
    gtk_widget_set_valign(group_, GTK_ALIGN_START);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), group_);
    if (testProbeEnabled()) {
        g_signal_connect_after(group_, "size-allocate",
                               G_CALLBACK(+[](GtkWidget*, GdkRectangle*, gpointer self) {
                                   static_cast<GtkWindowButtons*>(self)->probeButtons();
                               }),
                               this);
    }
    gtk_widget_show_all(group_);
    // Tab leaves the page for the buttons, left to right, and comes back to the page: GTK's
    // own order sorts by position and may start inside the group.
    GList* chain = nullptr;
    chain = g_list_append(chain, gtk_bin_get_child(GTK_BIN(overlay_)));
    chain = g_list_append(chain, group_);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_focus_chain(GTK_CONTAINER(overlay_), chain);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_list_free(chain);
}

void GtkWindowButtons::placeClose(Point closeOrigin) {
    bool firstPlacement = !closeOrigin_;
    closeOrigin_ = closeOrigin;
    // Leaving the title bar's place for the page's changes the side, and with it the order.
    if (firstPlacement && arrangement_.side != WindowSide::Left) {
        build();
    } else if (group_ != nullptr) {
        gtk_widget_queue_resize(group_);
    }
}

void GtkWindowButtons::windowStateChanged(bool maximized) {
    if (maximized == maximized_) return;
    maximized_ = maximized;
    if (maximize_ == nullptr) return;
    ButtonLook look = lookOf(WindowButton::Maximize, maximized_);
    gtk_image_set_from_icon_name(GTK_IMAGE(maximizeImage_), look.iconName, GTK_ICON_SIZE_MENU);
    setAccessibleName(maximize_, look.accessibleName);
}

// The close button's corner inside the group: the natural widths before it, and its margin.
Point GtkWindowButtons::closeOffset() const {
    double x = 0;
    g_autoptr(GList) children = gtk_container_get_children(GTK_CONTAINER(group_));
    for (GList* item = children; item != nullptr; item = item->next) {
        auto* child = static_cast<GtkWidget*>(item->data);
        if (child == close_) {
            x += cssMargin(child).left;
            break;
        }
        int natural = 0;
        gtk_widget_get_preferred_width(child, nullptr, &natural);
        x += natural + gtk_box_get_spacing(GTK_BOX(group_));
    }
    double y = 0;
    if (close_ != nullptr) {
        int groupHeight = 0;
        int closeHeight = 0;
        gtk_widget_get_preferred_height(group_, nullptr, &groupHeight);
        gtk_widget_get_preferred_height(close_, nullptr, &closeHeight);
        // Centred in the group's height, inside its own margins.
        y = (groupHeight - closeHeight) / 2 + cssMargin(close_).top;
    }
    return {x, y};
}

// Where each button sits, in the content's and the screen's pixels, for end-to-end tests.
void GtkWindowButtons::probeButtons() {
    GtkWidget* toplevel = gtk_widget_get_toplevel(overlay_);
    if (!gtk_widget_get_realized(toplevel)) return;
    int rootX = 0;
    int rootY = 0;
    gdk_window_get_origin(gtk_widget_get_window(toplevel), &rootX, &rootY);
    nlohmann::json buttons = nlohmann::json::array();
    g_autoptr(GList) children = gtk_container_get_children(GTK_CONTAINER(group_));
    for (GList* item = children; item != nullptr; item = item->next) {
        auto* button = static_cast<GtkWidget*>(item->data);
        auto which = static_cast<WindowButton>(
            GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "lumory-window-button")) - 1);
        // The drawn button's corner, inside the theme's margin.
        GtkBorder margin = cssMargin(button);
        int x = 0, y = 0, windowX = 0, windowY = 0;
        gtk_widget_translate_coordinates(button, overlay_, margin.left, margin.top, &x, &y);
        gtk_widget_translate_coordinates(button, toplevel, margin.left, margin.top, &windowX,
                                         &windowY);
        buttons.push_back(
            {{"name", probeName(which)},
             {"x", x},
             {"y", y},
             {"screenX", rootX + windowX},
             {"screenY", rootY + windowY},
             {"width", gtk_widget_get_allocated_width(button) - margin.left - margin.right},
             {"height", gtk_widget_get_allocated_height(button) - margin.top - margin.bottom}});
    }
    nlohmann::json report = {{"event", "window-buttons"},
                             {"placedByPage", closeOrigin_.has_value()},
                             {"buttons", buttons}};
    if (report == lastProbe_) return;
    lastProbe_ = report;
    emitTestProbe(report);
}

gboolean GtkWindowButtons::childPosition(GtkOverlay* overlay, GtkWidget* child,
                                         GdkRectangle* allocation, gpointer data) {
    auto* self = static_cast<GtkWindowButtons*>(data);
    if (child != self->group_) return FALSE;
    GtkRequisition natural;
    gtk_widget_get_preferred_size(child, nullptr, &natural);
    Size group{static_cast<double>(natural.width), static_cast<double>(natural.height)};
    Size view{static_cast<double>(gtk_widget_get_allocated_width(GTK_WIDGET(overlay))),
              static_cast<double>(gtk_widget_get_allocated_height(GTK_WIDGET(overlay)))};
    Point origin = self->closeOrigin_ ? windowButtonsGroupOrigin(*self->closeOrigin_,
                                                                 self->closeOffset(), group, view)
                                      : titleBarButtonsOrigin(group, view, self->arrangement_.side);
    allocation->x = static_cast<int>(std::lround(origin.x));
    allocation->y = static_cast<int>(std::lround(origin.y));
    allocation->width = natural.width;
    allocation->height = natural.height;
    return TRUE;
}

}  // namespace lumory::gtk
