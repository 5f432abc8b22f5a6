// CPlayerList: the deck registry. Decks are never created explicitly: the first lookup of deck n
// creates every missing deck up to n, each numbered by its position in the list. Its static flag
// `initialized` is the engine's started state: start-up sets it as its very last step, shutdown and
// deleteInstance clear it, and every entry point of every subsystem tests it first.
//
// Deck indexes run from 0 to kMaxDeckIndex: one deck allocates megabytes, so a larger index is
// refused like a negative one rather than filling memory with decks.
//
// Thread safety
// - `initialized` may be read from any thread without a lock; it is written only through
//   setInitialized, by start-up and shutdown under the engine's load lock and "Coreglobal".
// - The registry guards its list with its own lock, the innermost of the engine's locks apart from
//   the debug log's: lookups come from threads that hold different engine locks ("Coreglobal" for
//   the per-deck entry points, none for getPlayerObject). Nothing else is taken under it but the
//   locks a new deck builds for itself.
// - A deck stays at its position until shutdown, so a pointer handed out stays valid after the
//   lock is released. deletePos and the destructor run only at shutdown, when no entry point can
//   reach the registry any more.
#pragma once

#include <atomic>
#include <mutex>

class CPlayer;

// Singly linked list owning its elements; a position is an element's distance from the head.
template <class T>
class List {
public:
    struct Node {
        T* item;
        Node* next;
    };

    List() : head(nullptr), count(0) {}
    ~List() { clear(); }

    List(const List&) = delete;
    List& operator=(const List&) = delete;

    // The element at position, or null when the list is shorter.
    T* at(int position) const {
        if (position < 0) return nullptr;
        Node* node = head;
        for (int i = 0; node && i < position; ++i) node = node->next;
        return node ? node->item : nullptr;
    }

    // Appends at the tail; false (nothing changed) when the node cannot be allocated.
    bool append(T* item);

    // Position 0 only (the engine never removes elsewhere): unlinks the head, destroys its
    // element and frees the node. An empty list or any other position changes nothing.
    void deletePos(int position);

    // Destroys every element and frees every node.
    void clear() {
        while (head) deletePos(0);
        count = 0;
    }

    Node* head;
    int count;
};

class CPlayerList {
public:
    // Highest deck index the registry hands out.
    static constexpr int kMaxDeckIndex = 64;

    // True from the end of a successful start-up until shutdown.
    static std::atomic<bool> initialized;
    // The singleton; null until the first getInstance after start-up.
    static CPlayerList* ref;

    // Null while not started (nothing is created); else the registry, created with deck 0 on
    // first use. Null also when the registry cannot be allocated.
    static CPlayerList* getInstance();
    // Destroys the registry (and every deck left in it) when there is one.
    static void deleteInstance();
    static void setInitialized(bool value);

    // Creates an empty list and deck 0 as its head.
    CPlayerList();
    // Clears `initialized`, then destroys every deck left and the list.
    virtual ~CPlayerList();

    CPlayerList(const CPlayerList&) = delete;
    CPlayerList& operator=(const CPlayerList&) = delete;

    // The deck at position index, creating the missing decks up to it. Null while not started,
    // for an index below 0 or above kMaxDeckIndex, and when a deck cannot be allocated.
    CPlayer* getChannelObject(int index);

    // Number of decks in the list.
    int count();

    // Removes position 0 (shutdown only): destroys the deck and frees its node.
    void deletePos(int position);

    List<CPlayer>* list;

private:
    std::mutex m_listLock;  // innermost: guards `list` and its nodes
};
