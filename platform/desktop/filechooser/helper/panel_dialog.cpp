#include "panel_dialog.hpp"

#include <cstring>
#include <memory>

namespace pw::desktop {

namespace {

struct GFreeDeleter {
    void operator()(gpointer p) const { g_free(p); }
};

// GTK takes UTF-8 only: a text with a byte that does not belong shows U+FFFD there.
std::string validText(const std::string& text) {
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string result = valid;
    g_free(valid);
    return result;
}

// Button labels are mnemonic: an underscore of the caller's text must stay an underscore.
std::string mnemonicLiteral(const std::string& text) {
    std::string out;
    for (char c : validText(text)) {
        if (c == '_') out += '_';
        out += c;
    }
    return out;
}

GtkFileChooserAction actionFor(const PanelRequest& request) {
    if (request.kind == PanelKind::Save) return GTK_FILE_CHOOSER_ACTION_SAVE;
    // GTK's chooser picks either files or folders; a request for both gets files.
    return request.canChooseDirectories && !request.canChooseFiles ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                                                                    : GTK_FILE_CHOOSER_ACTION_OPEN;
}

// One filter for all the allowed types, their patterns in the given order; the filter's name lists
// the types as given.
void addTypeFilter(GtkFileChooser* chooser, const std::vector<std::string>& types) {
    GtkFileFilter* filter = gtk_file_filter_new();
    std::string name;
    for (const std::string& type : types) {
        if (type.find('/') != std::string::npos)
            gtk_file_filter_add_mime_type(filter, type.c_str());
        else
            gtk_file_filter_add_pattern(filter, filterPattern(type).c_str());
        if (!name.empty()) name += ", ";
        name += type;
    }
    gtk_file_filter_set_name(filter, validText(name).c_str());
    gtk_file_chooser_add_filter(chooser, filter);  // takes the floating reference
}

GtkWidget* addTypePopup(GtkFileChooser* chooser, const std::vector<std::string>& types) {
    GtkWidget* popup = gtk_combo_box_text_new();
    for (const std::string& type : types)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(popup), validText(type).c_str());
    gtk_combo_box_set_active(GTK_COMBO_BOX(popup), 0);
    gtk_widget_show(popup);
    gtk_file_chooser_set_extra_widget(chooser, popup);
    return popup;
}

void findLabel(GtkWidget* widget, gpointer found) {
    auto** result = static_cast<GtkLabel**>(found);
    if (*result) return;
    if (GTK_IS_LABEL(widget)) {
        GtkWidget* target = gtk_label_get_mnemonic_widget(GTK_LABEL(widget));
        // The chooser's own name entry, a private GtkEntry subclass; other entries (rename and new
        // folder popovers) have labels of their own.
        if (target && std::strcmp(G_OBJECT_TYPE_NAME(target), "GtkFileChooserEntry") == 0)
            *result = GTK_LABEL(widget);
        return;
    }
    // forall, not foreach: the name field is one of the chooser's internal children.
    if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), findLabel, found);
}

}  // namespace

std::string filterPattern(const std::string& type) {
    if (type == "*") return "*";
    std::string pattern = "*.";
    for (char c : type) {
        if (g_ascii_isalpha(c)) {
            pattern += '[';
            pattern += g_ascii_tolower(c);
            pattern += g_ascii_toupper(c);
            pattern += ']';
        } else if (c == '*' || c == '?' || c == '[') {
            pattern += '[';
            pattern += c;
            pattern += ']';
        } else if (c == '\\') {
            pattern += "\\\\";
        } else {
            pattern += c;
        }
    }
    return pattern;
}

GtkLabel* findNameFieldLabel(GtkWidget* dialog) {
    GtkLabel* label = nullptr;
    findLabel(dialog, &label);
    return label;
}

PanelDialog buildPanelDialog(const PanelRequest& request) {
    const bool save = request.kind == PanelKind::Save;
    const std::string accept = request.prompt ? mnemonicLiteral(*request.prompt) : save ? "_Save" : "_Open";
    const std::string title = request.title ? validText(*request.title) : std::string();
    PanelDialog panel;
    panel.dialog = gtk_file_chooser_dialog_new(request.title ? title.c_str() : nullptr, nullptr,
                                               actionFor(request), "_Cancel", GTK_RESPONSE_CANCEL,
                                               accept.c_str(), GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(panel.dialog);
    gtk_dialog_set_default_response(GTK_DIALOG(panel.dialog), GTK_RESPONSE_ACCEPT);
    // No parent window in this process: keep the panel in front of the application's windows.
    gtk_window_set_keep_above(GTK_WINDOW(panel.dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(panel.dialog), GTK_WIN_POS_CENTER);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_create_folders(chooser, request.canCreateDirectories);
    if (request.directory) gtk_file_chooser_set_current_folder(chooser, request.directory->c_str());

    if (!save) {
        gtk_file_chooser_set_select_multiple(chooser, request.allowMultipleSelections);
        if (!request.fileTypes.empty()) addTypeFilter(chooser, request.fileTypes);
        return panel;
    }
    // The save panel: any name may be typed (no allowed types), an existing file is confirmed
    // before it is replaced, and the types are a popup whose choice is only reported. The request's
    // file path is carried but not applied: the name field and the folder say where to save.
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    if (request.nameFieldValue) gtk_file_chooser_set_current_name(chooser, validText(*request.nameFieldValue).c_str());
    if (request.nameFieldLabel) {
        if (GtkLabel* label = findNameFieldLabel(panel.dialog))
            gtk_label_set_text_with_mnemonic(label, mnemonicLiteral(*request.nameFieldLabel).c_str());
    }
    if (!request.fileTypes.empty() && request.fileTypes.front() != "*")
        panel.typePopup = addTypePopup(chooser, request.fileTypes);
    return panel;
}

PanelAnswer runPanelDialog(PanelDialog& panel) {
    PanelAnswer answer;
    const gint response = gtk_dialog_run(GTK_DIALOG(panel.dialog));
    if (response == GTK_RESPONSE_ACCEPT) {
        GSList* files = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(panel.dialog));
        for (GSList* node = files; node; node = node->next) answer.paths.emplace_back(static_cast<char*>(node->data));
        g_slist_free_full(files, g_free);
        answer.accepted = !answer.paths.empty();
    }
    if (panel.typePopup) {
        std::unique_ptr<gchar, GFreeDeleter> type(gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(panel.typePopup)));
        answer.selectedType = type ? type.get() : "";
    }
    gtk_widget_destroy(panel.dialog);
    panel = PanelDialog{};
    return answer;
}

}  // namespace pw::desktop
