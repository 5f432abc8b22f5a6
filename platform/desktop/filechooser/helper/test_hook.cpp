#include "test_hook.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace pw::desktop {

namespace {

constexpr guint kStepMilliseconds = 25;
constexpr int kStepLimit = 400;  // 10 s per action
constexpr int kPressEveryTries = 20;

struct GFreeDeleter {
    void operator()(gpointer p) const { g_free(p); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

struct Script {
    PanelDialog* panel = nullptr;
    std::vector<std::string> lines;
    std::size_t next = 0;
    int tries = 0;
    bool asked = false;  // the current action has made its request of the chooser
};

GtkFileChooser* chooserOf(Script& script) { return GTK_FILE_CHOOSER(script.panel->dialog); }

std::string text(gchar* owned) {
    GText holder(owned);
    return holder ? holder.get() : "";
}

const char* kindName(GtkFileChooserAction action) {
    switch (action) {
    case GTK_FILE_CHOOSER_ACTION_SAVE: return "save";
    case GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER: return "folder";
    default: return "open";
    }
}

// Filters as "name:pattern,pattern", patterns (and MIME types) in the order they were added.
std::string describeFilter(GtkFileFilter* filter) {
    std::string line = gtk_file_filter_get_name(filter) ? gtk_file_filter_get_name(filter) : "";
    line += ':';
    GVariant* description = gtk_file_filter_to_gvariant(filter);
    GVariant* rules = g_variant_get_child_value(description, 1);
    for (gsize i = 0; i < g_variant_n_children(rules); ++i) {
        guint32 kind = 0;
        const gchar* value = nullptr;
        g_variant_get_child(rules, i, "(u&s)", &kind, &value);
        if (i > 0) line += ',';
        line += value;
    }
    g_variant_unref(rules);
    g_variant_unref(description);
    return line;
}

bool writeReport(Script& script, const std::string& file) {
    GtkFileChooser* chooser = chooserOf(script);
    GtkWidget* dialog = script.panel->dialog;
    const std::string folder = text(gtk_file_chooser_get_current_folder(chooser));
    if (folder.empty()) return false;  // still loading
    std::ostringstream out;
    const GtkFileChooserAction action = gtk_file_chooser_get_action(chooser);
    out << "kind=" << kindName(action) << '\n';
    const char* title = gtk_window_get_title(GTK_WINDOW(dialog));
    out << "title=" << (title ? title : "") << '\n';
    GtkWidget* accept = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    out << "accept=" << gtk_button_get_label(GTK_BUTTON(accept)) << '\n';
    out << "folder=" << folder << '\n';
    out << "multiple=" << (gtk_file_chooser_get_select_multiple(chooser) ? 1 : 0) << '\n';
    out << "create-folders=" << (gtk_file_chooser_get_create_folders(chooser) ? 1 : 0) << '\n';
    GSList* filters = gtk_file_chooser_list_filters(chooser);
    for (GSList* node = filters; node; node = node->next)
        out << "filter=" << describeFilter(GTK_FILE_FILTER(node->data)) << '\n';
    g_slist_free(filters);
    if (action == GTK_FILE_CHOOSER_ACTION_SAVE) {
        out << "name=" << text(gtk_file_chooser_get_current_name(chooser)) << '\n';
        GtkLabel* label = findNameFieldLabel(dialog);
        out << "name-label=" << (label ? gtk_label_get_label(label) : "") << '\n';
    }
    if (GtkWidget* popup = script.panel->typePopup) {
        GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(popup));
        GtkTreeIter iter;
        for (gboolean more = gtk_tree_model_get_iter_first(model, &iter); more;
             more = gtk_tree_model_iter_next(model, &iter)) {
            gchar* item = nullptr;
            gtk_tree_model_get(model, &iter, 0, &item, -1);
            out << "popup=" << text(item) << '\n';
        }
        out << "popup-active=" << text(gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(popup))) << '\n';
    }
    std::ofstream(file) << out.str();
    return true;
}

bool writeScreenshot(Script& script, const std::string& file) {
    GdkWindow* window = gtk_widget_get_window(script.panel->dialog);
    GdkPixbuf* pixels = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                   gdk_window_get_height(window));
    if (!pixels) return false;
    gdk_pixbuf_save(pixels, file.c_str(), "png", nullptr, nullptr);
    g_object_unref(pixels);
    return true;
}

void findTreeView(GtkWidget* widget, gpointer found) {
    auto** result = static_cast<GtkWidget**>(found);
    if (*result) return;
    if (GTK_IS_TREE_VIEW(widget)) {
        *result = widget;
        return;
    }
    if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), findTreeView, found);
}

// The chooser's list of files: the one tree view in the dialog (the places beside it are a list box).
GtkWidget* fileList(GtkWidget* dialog) {
    GtkWidget* list = nullptr;
    findTreeView(dialog, &list);
    return list;
}

// Selects the list's row of `path` as a click does, or, with `add`, as a click with Ctrl held does;
// false when no row shows it. The chooser's list model keeps each row's GFile in a column of its own.
bool selectRow(GtkWidget* dialog, const std::string& path, bool add) {
    GtkWidget* list = fileList(dialog);
    GtkTreeModel* model = list ? gtk_tree_view_get_model(GTK_TREE_VIEW(list)) : nullptr;
    if (!model) return false;
    gint column = 0;
    while (column < gtk_tree_model_get_n_columns(model) && gtk_tree_model_get_column_type(model, column) != G_TYPE_FILE)
        ++column;
    if (column == gtk_tree_model_get_n_columns(model)) return false;
    GtkTreeIter iter;
    for (gboolean more = gtk_tree_model_get_iter_first(model, &iter); more; more = gtk_tree_model_iter_next(model, &iter)) {
        GFile* file = nullptr;
        gtk_tree_model_get(model, &iter, column, &file, -1);
        const std::string rowPath = file ? text(g_file_get_path(file)) : "";
        if (file) g_object_unref(file);
        if (rowPath == path) {
            GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(list));
            if (!add) gtk_tree_selection_unselect_all(selection);
            gtk_tree_selection_select_iter(selection, &iter);
            return true;
        }
    }
    return false;
}

bool isSelected(GtkFileChooser* chooser, const std::string& path) {
    GSList* files = gtk_file_chooser_get_filenames(chooser);
    bool found = false;
    for (GSList* node = files; node; node = node->next) found = found || path == static_cast<char*>(node->data);
    g_slist_free_full(files, g_free);
    return found;
}

// Runs one action; false when it has to be tried again later.
bool play(Script& script, const std::string& line) {
    const std::size_t space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
    GtkFileChooser* chooser = chooserOf(script);
    GtkDialog* dialog = GTK_DIALOG(script.panel->dialog);
    if (verb == "report") return writeReport(script, argument);
    if (verb == "shot") return writeScreenshot(script, argument);
    if (verb == "folder") {
        if (!script.asked) gtk_file_chooser_set_current_folder(chooser, argument.c_str());
        script.asked = true;
        return text(gtk_file_chooser_get_current_folder(chooser)) == argument;
    }
    if (verb == "select" || verb == "add") {
        const bool add = verb == "add";
        if (add && isSelected(chooser, argument)) return true;
        // A row on show is clicked (with Ctrl held to add it); otherwise the chooser is asked to go
        // to the file's folder and select it there.
        if (!selectRow(script.panel->dialog, argument, add) && !script.asked) {
            gtk_file_chooser_select_filename(chooser, argument.c_str());
            script.asked = true;
        }
        return isSelected(chooser, argument);
    }
    if (verb == "name") {
        gtk_file_chooser_set_current_name(chooser, argument.c_str());
        return true;
    }
    if (verb == "popup" && script.panel->typePopup) {
        gtk_combo_box_set_active(GTK_COMBO_BOX(script.panel->typePopup), std::atoi(argument.c_str()));
        return true;
    }
    if (verb == "accept") {
        // The chooser may let a press pass while it still checks the name typed (its folder still
        // loading): press again until the dialog answers, which ends the script with the dialog.
        if (script.tries % kPressEveryTries == 0)
            gtk_button_clicked(GTK_BUTTON(gtk_dialog_get_widget_for_response(dialog, GTK_RESPONSE_ACCEPT)));
        return false;
    }
    if (verb == "cancel") {
        gtk_dialog_response(dialog, GTK_RESPONSE_CANCEL);
        return true;
    }
    std::fprintf(stderr, "gravenlisk-panel: unknown test script line '%s'\n", line.c_str());
    return true;
}

gboolean step(gpointer data) {
    auto* script = static_cast<Script*>(data);
    // The timer only ends with the dialog (see startTestHook), so a finished script idles.
    if (script->next >= script->lines.size()) return G_SOURCE_CONTINUE;
    if (!gtk_widget_get_mapped(script->panel->dialog)) return G_SOURCE_CONTINUE;
    const std::string& line = script->lines[script->next];
    if (!play(*script, line)) {
        if (++script->tries < kStepLimit) return G_SOURCE_CONTINUE;
        std::fprintf(stderr, "gravenlisk-panel: test script line '%s' did not complete\n", line.c_str());
        script->next = script->lines.size();
        gtk_dialog_response(GTK_DIALOG(script->panel->dialog), GTK_RESPONSE_CANCEL);
        return G_SOURCE_CONTINUE;
    }
    script->next++;
    script->tries = 0;
    script->asked = false;
    return G_SOURCE_CONTINUE;
}

}  // namespace

void startTestHook(PanelDialog& panel) {
    const char* path = std::getenv(kPanelScriptVariable);
    if (!path || !*path) return;
    auto* script = new Script;
    script->panel = &panel;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) script->lines.push_back(line);
    }
    // The timer goes with the dialog: destroying it ends the script.
    const guint timer = g_timeout_add_full(G_PRIORITY_DEFAULT, kStepMilliseconds, step, script,
                                           [](gpointer data) { delete static_cast<Script*>(data); });
    g_signal_connect_swapped(panel.dialog, "destroy", G_CALLBACK(+[](gpointer id) {
                                 g_source_remove(GPOINTER_TO_UINT(id));
                             }),
                             GUINT_TO_POINTER(timer));
}

}  // namespace pw::desktop
