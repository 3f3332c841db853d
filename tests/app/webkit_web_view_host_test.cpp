// The WebKitGTK host in-process on a private display: a page's dialog left open when its view
// goes away still gets exactly one answer, and zoom follows Ctrl+wheel, pinch and Ctrl+0 only
// where zoom is allowed, and the page's context menu puts spelling first.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <memory>

#include "gtk/desktop/page_context_menu.h"
#include "gtk/web_view/webkit_web_view.h"
#include "xvfb/xvfb_display.h"

namespace lumory::gtk {
namespace {

class DisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        display = std::make_unique<testing::XvfbDisplay>(800, 600);
        ASSERT_TRUE(display->started());
        setenv("DISPLAY", display->name().c_str(), 1);
        setenv("NO_AT_BRIDGE", "1", 1);
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    }
    void TearDown() override { display.reset(); }
    std::unique_ptr<testing::XvfbDisplay> display;
};

const auto* const kDisplay = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);

// Keeps what the view asks for; answers only when the test says so.
class RecordingDelegate : public WebViewDelegate {
public:
    void scriptMessageReceived(WebView&, const std::string&, const nlohmann::json&) override {}
    void loadFinished(WebView&) override { ++finished; }
    NavigationPolicy decideNavigationPolicy(WebView&, const std::string&) override {
        return NavigationPolicy::Allow;
    }
    void newWindowRequested(WebView&, const std::string&) override {}
    void showScriptAlert(WebView&, const std::string&, std::function<void()>) override {}
    void showScriptConfirm(WebView&, const std::string&,
                                   std::function<void(bool)>) override {}
    void showScriptPrompt(
        WebView&, const std::string& prompt, const std::string& defaultText,
        std::function<void(std::optional<std::string>)> done) override {
        prompts.push_back(prompt + "|" + defaultText);
        promptDone = std::move(done);
    }
    void chooseFiles(WebView&, const FileChooserOptions&,
                      std::function<void(std::optional<std::vector<std::string>>)>) override {}
    void webProcessTerminated(WebView&) override {}

    int finished = 0;
    std::vector<std::string> prompts;
    std::function<void(std::optional<std::string>)> promptDone;
};

// Runs the main loop until `done` holds or `seconds` pass.
bool iterateUntil(const std::function<bool()>& done, int seconds = 10) {
    gint64 deadline = g_get_monotonic_time() + seconds * G_USEC_PER_SEC;
    while (!done() && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, FALSE);
    return done();
}

std::string titleOf(GtkWidget* view) {
    const gchar* title = webkit_web_view_get_title(WEBKIT_WEB_VIEW(view));
    return title ? title : "";
}

TEST(WebKitWebViewHostTest, ADialogOpenWhenTheViewGoesAwayIsAnsweredOnce) {
    RecordingDelegate delegate;
    auto host = std::make_unique<WebKitWebViewHost>(webkit_web_context_get_default(),
                                                    WebViewConfiguration{}, delegate);
    // The page outlives the host here, so what it was answered can be read afterwards.
    GtkWidget* view = GTK_WIDGET(g_object_ref(host->widget()));
    host->loadHtml(
        "<script>document.title = 'answer:' + JSON.stringify(prompt('Name?', 'draft'))"
        "</script>");
    ASSERT_TRUE(iterateUntil([&] { return static_cast<bool>(delegate.promptDone); }));
    EXPECT_EQ(delegate.prompts, std::vector<std::string>{"Name?|draft"});

    host.reset();
    EXPECT_TRUE(iterateUntil([&] { return titleOf(view) == "answer:null"; })) << titleOf(view);
    // The user answers the dialog later: it goes nowhere.
    delegate.promptDone("late");
    iterateUntil([] { return false; }, 1);  // whatever might come late, comes
    EXPECT_EQ(titleOf(view), "answer:null");
    g_object_unref(view);
}

GdkEvent* eventFor(GtkWidget* widget, GdkEventType type) {
    GdkEvent* event = gdk_event_new(type);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(widget));
    gdk_event_set_device(event, gdk_seat_get_pointer(seat));
    return event;
}

void send(GtkWidget* widget, GdkEvent* event) {
    gtk_widget_event(widget, event);
    gdk_event_free(event);
}

void controlWheel(GtkWidget* widget, GdkScrollDirection direction, double deltaY = 0) {
    GdkEvent* event = eventFor(widget, GDK_SCROLL);
    event->scroll.direction = direction;
    event->scroll.delta_y = deltaY;
    event->scroll.state = GDK_CONTROL_MASK;
    send(widget, event);
}

void pinch(GtkWidget* widget, GdkTouchpadGesturePhase phase, double scale) {
    GdkEvent* event = eventFor(widget, GDK_TOUCHPAD_PINCH);
    event->touchpad_pinch.phase = phase;
    event->touchpad_pinch.scale = scale;
    send(widget, event);
}

void controlKey(GtkWidget* widget, guint keyval) {
    GdkEvent* event = eventFor(widget, GDK_KEY_PRESS);
    event->key.keyval = keyval;
    event->key.state = GDK_CONTROL_MASK;
    send(widget, event);
}

struct ShownHost {
    explicit ShownHost(bool zoomAllowed, RecordingDelegate& delegate) {
        WebViewConfiguration configuration;
        configuration.zoomAllowed = zoomAllowed;
        host = std::make_unique<WebKitWebViewHost>(webkit_web_context_get_default(), configuration,
                                                   delegate);
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
        gtk_container_add(GTK_CONTAINER(window), host->widget());
        gtk_widget_show_all(window);
        host->loadHtml("<p>zoom</p>");
        iterateUntil([&] { return delegate.finished > 0; });
    }
    ~ShownHost() {
        host.reset();
        gtk_widget_destroy(window);
    }
    GtkWidget* view() const { return host->widget(); }
    std::unique_ptr<WebKitWebViewHost> host;
    GtkWidget* window;
};

TEST(WebKitWebViewHostTest, ZoomFollowsWheelPinchAndKeysWhereAllowed) {
    RecordingDelegate delegate;
    ShownHost shown(true, delegate);
    WebKitWebViewHost& host = *shown.host;
    controlWheel(shown.view(), GDK_SCROLL_UP);
    EXPECT_DOUBLE_EQ(host.zoom(), 1.1);
    // A touchpad scrolls in fractions of a notch: half a notch does nothing yet.
    controlWheel(shown.view(), GDK_SCROLL_SMOOTH, -0.5);
    EXPECT_DOUBLE_EQ(host.zoom(), 1.1);
    controlWheel(shown.view(), GDK_SCROLL_SMOOTH, -0.5);
    EXPECT_DOUBLE_EQ(host.zoom(), 1.2);
    controlWheel(shown.view(), GDK_SCROLL_DOWN);
    EXPECT_DOUBLE_EQ(host.zoom(), 1.1);

    pinch(shown.view(), GDK_TOUCHPAD_GESTURE_PHASE_BEGIN, 1.0);
    pinch(shown.view(), GDK_TOUCHPAD_GESTURE_PHASE_UPDATE, 2.0);
    EXPECT_NEAR(host.zoom(), 2.2, 1e-9);
    pinch(shown.view(), GDK_TOUCHPAD_GESTURE_PHASE_CANCEL, 2.0);
    EXPECT_NEAR(host.zoom(), 1.1, 1e-9);
    pinch(shown.view(), GDK_TOUCHPAD_GESTURE_PHASE_BEGIN, 1.0);
    pinch(shown.view(), GDK_TOUCHPAD_GESTURE_PHASE_END, 100.0);
    EXPECT_DOUBLE_EQ(host.zoom(), 3.0);

    controlKey(shown.view(), GDK_KEY_minus);
    EXPECT_DOUBLE_EQ(host.zoom(), 2.4);
    controlKey(shown.view(), GDK_KEY_0);
    EXPECT_DOUBLE_EQ(host.zoom(), 1.0);
    controlKey(shown.view(), GDK_KEY_equal);
    EXPECT_DOUBLE_EQ(host.zoom(), 1.1);
}

TEST(WebKitWebViewHostTest, AViewWithoutZoomIgnoresWheelPinchAndKeys) {
    RecordingDelegate delegate;
    ShownHost shown(false, delegate);
    controlWheel(shown.view(), GDK_SCROLL_UP);
    pinch(shown.view(), GDK_TOUCHPAD_GESTURE_PHASE_BEGIN, 1.0);
    pinch(shown.view(), GDK_TOUCHPAD_GESTURE_PHASE_UPDATE, 2.0);
    controlKey(shown.view(), GDK_KEY_plus);
    EXPECT_DOUBLE_EQ(shown.host->zoom(), 1.0);
}

// A page menu as WebKit might build it, the spelling group after others and with empty groups.
GObjectPtr<WebKitContextMenu> pageMenu() {
    GObjectPtr<WebKitContextMenu> menu(webkit_context_menu_new());
    for (auto action : {WEBKIT_CONTEXT_MENU_ACTION_CUT, WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION,
                        WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION,
                        WEBKIT_CONTEXT_MENU_ACTION_SPELLING_GUESS,
                        WEBKIT_CONTEXT_MENU_ACTION_SPELLING_GUESS,
                        WEBKIT_CONTEXT_MENU_ACTION_LEARN_SPELLING,
                        WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION, WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL,
                        WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION}) {
        webkit_context_menu_append(menu.get(),
                                   action == WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION
                                       ? webkit_context_menu_item_new_separator()
                                       : webkit_context_menu_item_new_from_stock_action(action));
    }
    return menu;
}

std::vector<WebKitContextMenuAction> actionsOf(WebKitContextMenu* menu) {
    std::vector<WebKitContextMenuAction> actions;
    for (GList* node = webkit_context_menu_get_items(menu); node != nullptr; node = node->next) {
        auto* item = WEBKIT_CONTEXT_MENU_ITEM(node->data);
        actions.push_back(webkit_context_menu_item_is_separator(item)
                              ? WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION
                              : webkit_context_menu_item_get_stock_action(item));
    }
    return actions;
}

TEST(PageContextMenuTest, SpellingComesFirstWhileCheckingAndGoesOtherwise) {
    constexpr auto kSeparator = WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION;
    auto checking = pageMenu();
    arrangePageItems(checking.get(), true);
    EXPECT_EQ(actionsOf(checking.get()),
              (std::vector<WebKitContextMenuAction>{
                  WEBKIT_CONTEXT_MENU_ACTION_SPELLING_GUESS,
                  WEBKIT_CONTEXT_MENU_ACTION_SPELLING_GUESS,
                  WEBKIT_CONTEXT_MENU_ACTION_LEARN_SPELLING, kSeparator,
                  WEBKIT_CONTEXT_MENU_ACTION_CUT, kSeparator,
                  WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL}));

    auto off = pageMenu();
    arrangePageItems(off.get(), false);
    EXPECT_EQ(actionsOf(off.get()),
              (std::vector<WebKitContextMenuAction>{WEBKIT_CONTEXT_MENU_ACTION_CUT, kSeparator,
                                                    WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL}));
}

}  // namespace
}  // namespace lumory::gtk
