#include "gtk/desktop/gtk_dialogs.h"

#include <memory>

#include "gtk/desktop/dialog_probe.h"

namespace lumory::gtk {

namespace {

// Lives as long as the dialog; answers once, from the response or, failing that, when the
// dialog is destroyed unanswered.
struct MessageDialogState {
    std::function<void(DialogResponse)> done;
    GtkWidget* entry = nullptr;

    void finish(int button) {
        if (!done) return;
        DialogResponse response{button, {}};
        if (entry != nullptr && button >= 0) response.text = gtk_entry_get_text(GTK_ENTRY(entry));
        auto callback = std::move(done);
        done = nullptr;
        callback(std::move(response));
    }
};

}  // namespace

void GtkDialogs::showMessageDialog(const MessageDialogSpec& spec,
                                   std::function<void(DialogResponse)> done) {
    GtkWindow* parent = parent_ ? parent_() : nullptr;
    GtkWidget* dialog = gtk_message_dialog_new(
        parent, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE, "%s", spec.text.c_str());
    if (!spec.secondaryText.empty()) {
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                                 spec.secondaryText.c_str());
    }
    gtk_window_set_title(GTK_WINDOW(dialog), "Lumory");
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
    // GNOME puts the affirmative button last (rightmost): add them in reverse, ids keep the order.
    for (int index = static_cast<int>(spec.buttons.size()) - 1; index >= 0; --index) {
        gtk_dialog_add_button(GTK_DIALOG(dialog), spec.buttons[index].c_str(), index);
    }
    if (!spec.buttons.empty()) {
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), 0);
        // Enter answers with the first button: GTK would otherwise focus the leftmost one.
        GtkWidget* first = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), 0);
        gtk_window_set_focus(GTK_WINDOW(dialog), first);
    }

    auto* state = new MessageDialogState{std::move(done), nullptr};
    if (spec.textField) {
        GtkWidget* entry = gtk_entry_new();
        gtk_entry_set_text(GTK_ENTRY(entry), spec.textField->c_str());
        gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
        gtk_widget_set_size_request(entry, 320, -1);
        GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
        gtk_container_add(GTK_CONTAINER(area), entry);
        gtk_widget_show(entry);
        // Typing goes to the field at once, as it does in a browser's prompt.
        gtk_window_set_focus(GTK_WINDOW(dialog), entry);
        state->entry = entry;
    }
    g_signal_connect_data(
        dialog, "response", G_CALLBACK(+[](GtkDialog* dialog, gint response, gpointer data) {
            static_cast<MessageDialogState*>(data)->finish(response >= 0 ? response : -1);
            gtk_widget_destroy(GTK_WIDGET(dialog));
        }),
        state,
        [](gpointer data, GClosure*) {
            auto* state = static_cast<MessageDialogState*>(data);
            state->finish(-1);
            delete state;
        },
        GConnectFlags(0));
    probeDialogWhenShown(GTK_MESSAGE_DIALOG(dialog), static_cast<int>(spec.buttons.size()));
    gtk_window_present(GTK_WINDOW(dialog));
}

void GtkDialogs::chooseFiles(const FileChooserOptions& options,
                               std::function<void(std::optional<std::vector<std::string>>)> done) {
    GtkWindow* parent = parent_ ? parent_() : nullptr;
    // The native chooser goes through the desktop portal where there is one.
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        nullptr, parent,
        options.allowsDirectories ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                                  : GTK_FILE_CHOOSER_ACTION_OPEN,
        nullptr, nullptr);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser),
                                         options.allowsMultipleSelection);
    using Done = std::function<void(std::optional<std::vector<std::string>>)>;
    g_signal_connect_data(
        chooser, "response", G_CALLBACK(+[](GtkNativeDialog* dialog, gint response, gpointer data) {
            auto& done = *static_cast<Done*>(data);
            if (!done) return;
            std::optional<std::vector<std::string>> chosen;
            if (response == GTK_RESPONSE_ACCEPT) {
                chosen.emplace();
                GSList* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
                for (GSList* item = files; item != nullptr; item = item->next) {
                    g_autofree char* uri = g_file_get_uri(G_FILE(item->data));
                    if (uri != nullptr) chosen->push_back(uri);
                }
                g_slist_free_full(files, g_object_unref);
            }
            auto callback = std::move(done);
            done = nullptr;
            callback(std::move(chosen));
            g_object_unref(dialog);
        }),
        new Done(std::move(done)),
        [](gpointer data, GClosure*) {
            auto* done = static_cast<Done*>(data);
            if (*done) (*done)(std::nullopt);
            delete done;
        },
        GConnectFlags(0));
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}

}  // namespace lumory::gtk
