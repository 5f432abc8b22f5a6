#include "reveal.hpp"

#include <dbus/dbus.h>
#include <gio/gio.h>

#include <chrono>
#include <cstring>
#include <memory>

namespace desktop {

namespace {

constexpr const char* kService = "org.freedesktop.FileManager1";
constexpr const char* kObjectPath = "/org/freedesktop/FileManager1";
// How long the caller (often the event thread) waits for the file manager's answer. A file
// manager that is busy, or that the bus is still starting, may answer much later: the call is
// then already in its queue (the bus holds it for a service being started) and counts as made.
// Counted from the start of the reveal, and short of the second a caller may be held by the time
// starting the folder's default handler takes.
constexpr std::chrono::milliseconds kAnswerWait{925};
// The file manager's name changing hands (above all, losing its owner) while the call waits.
constexpr const char* kOwnerRule =
    "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
    "member='NameOwnerChanged',arg0='org.freedesktop.FileManager1'";

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

enum class Answer { Taken, Refused, Pending };

// What one message says about the call `serial`: its reply (an error is a refusal: no such
// service, or, from the bus, that the file manager left without answering), or the file
// manager's name losing the owner that had the call; anything else says nothing.
Answer readMessage(DBusMessage* message, dbus_uint32_t serial) {
    const int type = dbus_message_get_type(message);
    if ((type == DBUS_MESSAGE_TYPE_METHOD_RETURN || type == DBUS_MESSAGE_TYPE_ERROR) &&
        dbus_message_get_reply_serial(message) == serial) {
        return type == DBUS_MESSAGE_TYPE_ERROR ? Answer::Refused : Answer::Taken;
    }
    if (!dbus_message_is_signal(message, DBUS_INTERFACE_DBUS, "NameOwnerChanged")) return Answer::Pending;
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    DBusError error;
    dbus_error_init(&error);
    const bool read = dbus_message_get_args(message, &error, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner,
                                            DBUS_TYPE_STRING, &newOwner, DBUS_TYPE_INVALID);
    dbus_error_free(&error);
    // An owner that goes (dies, or gives the name up) takes the calls it had with it; a name
    // that only gains an owner is a service the bus has just started for this call.
    if (read && std::strcmp(name, kService) == 0 && *oldOwner != '\0') return Answer::Refused;
    return Answer::Pending;
}

// Waits for the reply to `serial` or for the file manager to leave the bus, until `deadline`
// at most. The bus tells both (its error for a recipient gone, and the name's owner change), so a
// file manager that dies late is told from one that is slow by what the bus says, not by time.
Answer awaitAnswer(DBusConnection* bus, dbus_uint32_t serial, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        while (DBusMessage* raw = dbus_connection_pop_message(bus)) {
            std::unique_ptr<DBusMessage, MessageUnref> message(raw);
            const Answer answer = readMessage(message.get(), serial);
            if (answer != Answer::Pending) return answer;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Answer::Pending;
        // Blocks until something can be read or written, or the time is up; false once the
        // connection is gone, which says nothing about the file manager.
        if (!dbus_connection_read_write(bus, static_cast<int>(left.count()))) return Answer::Pending;
    }
}

// The bus is reached through libdbus, not GDBus: GDBus sets SIGPIPE to "ignore" when a process
// makes its first connection, and in a JVM that handler is the VM's (which checks it). libdbus
// is told to leave it alone; it sends with MSG_NOSIGNAL anyway.
bool callFileManager(const char* method, const char* uri, std::chrono::steady_clock::time_point deadline) {
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
    // Watched before the call goes out, so that no change after it is missed.
    dbus_bus_add_match(bus.get(), kOwnerRule, &error);
    if (dbus_error_is_set(&error)) {
        dbus_error_free(&error);
        return false;
    }
    dbus_uint32_t serial = 0;
    if (!dbus_connection_send(bus.get(), call.get(), &serial)) return false;
    return awaitAnswer(bus.get(), serial, deadline) != Answer::Refused;
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
    const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
    if (!path || !*path) return RevealRoute::Nothing;
    FilePtr file(g_file_new_for_path(path));
    const GFileType type = g_file_query_file_type(file.get(), G_FILE_QUERY_INFO_NONE, nullptr);
    if (type == G_FILE_TYPE_UNKNOWN) return RevealRoute::Nothing;
    const bool folder = type == G_FILE_TYPE_DIRECTORY;

    TextPtr uri(g_file_get_uri(file.get()));
    if (callFileManager(folder ? "ShowFolders" : "ShowItems", uri.get(), deadline)) {
        return RevealRoute::FileManager;
    }
    FilePtr parent(folder ? nullptr : g_file_get_parent(file.get()));
    GFile* target = folder ? file.get() : parent.get();
    if (target && openWithDefaultHandler(target)) return RevealRoute::DefaultHandler;
    return RevealRoute::Nothing;
}

}  // namespace desktop
