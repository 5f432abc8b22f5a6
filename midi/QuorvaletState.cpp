#include "QuorvaletState.hpp"

#include <algorithm>

#include "InputCallback.hpp"

namespace quorvalet {
namespace {

struct Connection {
    MIDIEndpointRef source;
    jobject receiver;  // global reference
};

// Guarded by stateLock().
std::vector<Connection> g_connections;

void deleteAll(JNIEnv* env, const std::vector<Connection>& connections) {
    for (const Connection& c : connections) env->DeleteGlobalRef(c.receiver);
}

}  // namespace

std::atomic<JavaVM*> g_vm{nullptr};
std::atomic<MIDIClientRef> g_client{0};
std::atomic<MIDIPortRef> g_inPort{0};
std::atomic<MIDIPortRef> g_outPort{0};

std::mutex& stateLock() {
    static std::mutex lock;
    return lock;
}

void ensureClient() {
    std::lock_guard<std::mutex> guard(stateLock());
    if (g_client.load() != 0) return;
    MIDIClientRef client = 0;
    MIDIPortRef outPort = 0;
    MIDIPortRef inPort = 0;
    MIDIClientCreate("quorvalet", &client);
    MIDIOutputPortCreate(client, "Output port", &outPort);
    MIDIInputPortCreate(client, "Input port", quorvaletReadProc, nullptr, &inPort);
    g_client.store(client);
    g_outPort.store(outPort);
    g_inPort.store(inPort);
}

void connectInput(JNIEnv* env, MIDIEndpointRef source, jobject receiver) {
    const jobject global = env->NewGlobalRef(receiver);
    if (!global) return;
    {
        // Connected and recorded in one step, so a racing disconnect sees both or neither.
        std::lock_guard<std::mutex> guard(stateLock());
        if (MIDIPortConnectSource(g_inPort.load(), source, global) == kMIDIOk) {
            try {
                g_connections.push_back(Connection{source, global});
                return;
            } catch (const std::bad_alloc&) {
                MIDIPortDisconnectSource(g_inPort.load(), source);  // this thread holds no callback
            }
        }
    }
    env->DeleteGlobalRef(global);
}

void disconnectInput(JNIEnv* env, MIDIEndpointRef source) {
    std::vector<Connection> ended;
    MIDIPortRef port;
    {
        std::lock_guard<std::mutex> guard(stateLock());
        port = g_inPort.load();
        auto split = std::stable_partition(g_connections.begin(), g_connections.end(),
                                           [source](const Connection& c) { return c.source != source; });
        ended.assign(split, g_connections.end());
        g_connections.erase(split, g_connections.end());
    }
    // Waits for a callback in progress (unless this is it), so the references are free after.
    // A connection of the same source made between the two steps is ended here too; its
    // reference stays in the table until the next disconnect of the source or the close.
    MIDIPortDisconnectSource(port, source);
    deleteAll(env, ended);
}

void closeSystem(JNIEnv* env) {
    std::vector<Connection> ended;
    MIDIClientRef client;
    MIDIPortRef inPort;
    MIDIPortRef outPort;
    {
        std::lock_guard<std::mutex> guard(stateLock());
        client = g_client.exchange(0);
        inPort = g_inPort.exchange(0);
        outPort = g_outPort.exchange(0);
        ended.swap(g_connections);
    }
    // Disposing the client ends delivery first; then the references can go.
    if (client) MIDIClientDispose(client);
    if (inPort) MIDIPortDispose(inPort);
    if (outPort) MIDIPortDispose(outPort);
    deleteAll(env, ended);
}

}  // namespace quorvalet
