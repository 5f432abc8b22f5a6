// A stand-in for the desktop's file manager on a private session bus: it owns
// org.freedesktop.FileManager1 and appends every call it receives, "<method> <uri>" per line, to
// the log file named by its first argument as soon as it arrives, and answers it after the delay in
// milliseconds given as the second (0 when absent), or, given "leave" or "leave:MS", leaves the
// bus without answering at once or MS milliseconds after the call, as a file manager that
// crashes on it. Prints "ready" once the name is owned;
// ends on SIGTERM.
#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kIntrospection[] =
    "<node><interface name='org.freedesktop.FileManager1'>"
    "<method name='ShowFolders'><arg type='as' direction='in'/><arg type='s' direction='in'/></method>"
    "<method name='ShowItems'><arg type='as' direction='in'/><arg type='s' direction='in'/></method>"
    "<method name='ShowItemProperties'><arg type='as' direction='in'/><arg type='s' direction='in'/></method>"
    "</interface></node>";

const char* g_logPath = nullptr;
guint g_answerDelayMs = 0;
bool g_leave = false;

gboolean leave(gpointer) { std::_Exit(0); }

gboolean answer(gpointer invocation) {
    g_dbus_method_invocation_return_value(static_cast<GDBusMethodInvocation*>(invocation), nullptr);
    return G_SOURCE_REMOVE;
}

struct StandIn {
    GDBusNodeInfo* info;
    GMainLoop* loop;
};

void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
            GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
    GVariantIter* uris = nullptr;
    const gchar* startupId = nullptr;
    g_variant_get(parameters, "(as&s)", &uris, &startupId);
    if (FILE* log = std::fopen(g_logPath, "a")) {
        const gchar* uri = nullptr;
        while (g_variant_iter_next(uris, "&s", &uri)) std::fprintf(log, "%s %s\n", method, uri);
        std::fclose(log);
    }
    g_variant_iter_free(uris);
    if (g_leave && g_answerDelayMs == 0) std::_Exit(0);
    if (g_leave) {
        g_timeout_add(g_answerDelayMs, leave, nullptr);
    } else if (g_answerDelayMs == 0) {
        answer(invocation);
    } else {
        g_timeout_add(g_answerDelayMs, answer, invocation);
    }
}

void onBus(GDBusConnection* connection, const gchar*, gpointer data) {
    static const GDBusInterfaceVTable vtable = {onCall, nullptr, nullptr, {nullptr}};
    auto* standIn = static_cast<StandIn*>(data);
    g_dbus_connection_register_object(connection, "/org/freedesktop/FileManager1",
                                      standIn->info->interfaces[0], &vtable, nullptr, nullptr, nullptr);
}

void onName(GDBusConnection*, const gchar*, gpointer) {
    std::printf("ready\n");
    std::fflush(stdout);
}

void onLost(GDBusConnection*, const gchar*, gpointer data) {
    std::fprintf(stderr, "file manager stand-in: name lost\n");
    g_main_loop_quit(static_cast<StandIn*>(data)->loop);
}

gboolean onTerm(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s LOG [ANSWER_DELAY_MS | leave[:MS]]\n", argv[0]);
        return 2;
    }
    g_logPath = argv[1];
    if (argc == 3) {
        const std::string delay = argv[2];
        g_leave = delay.rfind("leave", 0) == 0;
        const char* ms = g_leave ? (delay.size() > 6 ? argv[2] + 6 : "0") : argv[2];
        g_answerDelayMs = static_cast<guint>(std::strtoul(ms, nullptr, 10));
    }
    StandIn standIn{g_dbus_node_info_new_for_xml(kIntrospection, nullptr),
                    g_main_loop_new(nullptr, FALSE)};
    g_unix_signal_add(SIGTERM, onTerm, standIn.loop);
    const guint owner = g_bus_own_name(G_BUS_TYPE_SESSION, "org.freedesktop.FileManager1",
                                       G_BUS_NAME_OWNER_FLAGS_NONE, onBus, onName, onLost,
                                       &standIn, nullptr);
    g_main_loop_run(standIn.loop);
    g_bus_unown_name(owner);
    g_main_loop_unref(standIn.loop);
    g_dbus_node_info_unref(standIn.info);
    return 0;
}
