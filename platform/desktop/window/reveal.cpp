#include "reveal.hpp"

#include <dbus/dbus.h>
#include <gio/gio.h>

#include <chrono>
#include <memory>

namespace desktop {

namespace {

constexpr const char* kService = "org.freedesktop.FileManager1";
constexpr const char* kObjectPath = "/org/freedesktop/FileManager1";
// How long the caller (often the event thread) waits for the file manager's answer. A file
// manager that is busy, or that the bus is still starting, may answer much later: the call is
// then already in its queue (the bus holds it for a service being started) and counts as made.
constexpr int kCallTimeoutMs = 700;

struct GObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
using FilePtr = std::unique_ptr<GFile, GObjectUnref>;
using TextPtr = std::unique_ptr<char, GFree>;

struct BusClose {
    void operator()(DBusConnection* bus) const {
        dbus_connection_close(bus);
        dbus_connection_unref(bus);
    }
};
struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};

// The bus is reached through libdbus, not GDBus: GDBus sets SIGPIPE to "ignore" when a process
// makes its first connection, and in a JVM that handler is the VM's (which checks it). libdbus
// is told to leave it alone; it sends with MSG_NOSIGNAL anyway.
bool callFileManager(const char* method, const char* uri) {
    dbus_connection_set_change_sigpipe(FALSE);
    DBusError error;
    dbus_error_init(&error);
    // A private connection: the shared one would stay open, and its owner is the process.
    std::unique_ptr<DBusConnection, BusClose> bus(dbus_bus_get_private(DBUS_BUS_SESSION, &error));
    if (!bus) {
        dbus_error_free(&error);
        return false;
    }
    dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);

    std::unique_ptr<DBusMessage, MessageUnref> call(
        dbus_message_new_method_call(kService, kObjectPath, kService, method));
    if (!call) return false;
    DBusMessageIter args;
    DBusMessageIter uris;
    const char* startupId = "";
    dbus_message_iter_init_append(call.get(), &args);
    if (!dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, DBUS_TYPE_STRING_AS_STRING, &uris) ||
        !dbus_message_iter_append_basic(&uris, DBUS_TYPE_STRING, &uri) ||
        !dbus_message_iter_close_container(&args, &uris) ||
        !dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &startupId)) {
        return false;
    }
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<DBusMessage, MessageUnref> reply(
        dbus_connection_send_with_reply_and_block(bus.get(), call.get(), kCallTimeoutMs, &error));
    // No answer in time is not a refusal: the bus answers at once when there is no such service.
    // The bus gives the same error early when the file manager leaves without answering (it
    // crashed): that call was not carried out.
    const auto waited = std::chrono::steady_clock::now() - start;
    const bool ranOut = waited >= std::chrono::milliseconds(kCallTimeoutMs * 9 / 10);
    const bool taken = reply || (ranOut && dbus_error_has_name(&error, DBUS_ERROR_NO_REPLY));
    dbus_error_free(&error);
    return taken;
}

// Opens the folder the way the desktop's "open" does, in a child process: GIO's launcher announces
// launches on the session bus through GDBus, which must stay out of this process (see above).
// The child is not waited for: the folder's handler may be the very file manager that does not
// answer. GLib starts it through an intermediate process it reaps at once, so nothing is left to
// reap here. True when the child was started.
bool openWithDefaultHandler(GFile* folder) {
    TextPtr uri(g_file_get_uri(folder));
    char program[] = "gio";
    char verb[] = "open";
    char* argv[] = {program, verb, uri.get(), nullptr};
    GError* error = nullptr;
    const bool started = g_spawn_async(nullptr, argv, nullptr,
                                       static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                                                G_SPAWN_STDERR_TO_DEV_NULL),
                                       nullptr, nullptr, nullptr, &error);
    g_clear_error(&error);
    return started;
}

}  // namespace

RevealRoute revealInFileManager(const char* path) {
    if (!path || !*path) return RevealRoute::Nothing;
    FilePtr file(g_file_new_for_path(path));
    const GFileType type = g_file_query_file_type(file.get(), G_FILE_QUERY_INFO_NONE, nullptr);
    if (type == G_FILE_TYPE_UNKNOWN) return RevealRoute::Nothing;
    const bool folder = type == G_FILE_TYPE_DIRECTORY;

    TextPtr uri(g_file_get_uri(file.get()));
    if (callFileManager(folder ? "ShowFolders" : "ShowItems", uri.get())) {
        return RevealRoute::FileManager;
    }
    FilePtr parent(folder ? nullptr : g_file_get_parent(file.get()));
    GFile* target = folder ? file.get() : parent.get();
    if (target && openWithDefaultHandler(target)) return RevealRoute::DefaultHandler;
    return RevealRoute::Nothing;
}

}  // namespace desktop
