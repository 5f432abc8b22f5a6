#include "PlayerList.h"

#include <new>

#include "DebugLog.h"
#include "Player.h"
#include "TKCore.h"

namespace {
// Guards the creation and deletion of the singleton itself (getInstance can race the first lookup
// of another thread).
std::mutex g_instanceLock;

// A new deck, or null when memory runs out: a deck's construction throws then (Player.cpp), and
// nothing may leave the engine as an exception.
CPlayer* newDeck(int index) noexcept {
    try {
        return new CPlayer(index);
    } catch (const std::bad_alloc&) {
        debugMsg("Out of memory: deck %d not created\n", index);
        return nullptr;
    }
}

}  // namespace

template <class T>
bool List<T>::append(T* item) {
    Node* node = new (std::nothrow) Node{item, nullptr};
    if (!node) return false;
    if (!head) {
        head = node;
    } else {
        Node* tail = head;
        while (tail->next) tail = tail->next;
        tail->next = node;
    }
    ++count;
    return true;
}

template <class T>
void List<T>::deletePos(int position) {
    if (position != 0 || !head || count <= 0) return;
    Node* node = head;
    head = node->next;
    --count;
    delete node->item;
    delete node;
}

template class List<CPlayer>;

std::atomic<bool> CPlayerList::initialized{false};
CPlayerList* CPlayerList::ref = nullptr;

void CPlayerList::setInitialized(bool value) {
    // Release: whatever start-up built before setting the flag is visible to a thread that reads
    // it as true.
    initialized.store(value, std::memory_order_release);
}

CPlayerList* CPlayerList::getInstance() {
    if (!initialized.load(std::memory_order_acquire)) return nullptr;
    std::lock_guard<std::mutex> guard(g_instanceLock);
    if (!ref) {
        ref = new (std::nothrow) CPlayerList();
        // Without its list the registry is no registry.
        if (ref && !ref->list) {
            delete ref;
            ref = nullptr;
        }
    }
    return ref;
}

void CPlayerList::deleteInstance() {
    std::lock_guard<std::mutex> guard(g_instanceLock);
    setInitialized(false);
    if (!ref) return;
    delete ref;
    ref = nullptr;
}

CPlayerList::CPlayerList() : list(new (std::nothrow) List<CPlayer>()) {
    if (!list) return;
    CPlayer* first = newDeck(0);
    if (first && !list->append(first)) delete first;
}

// The started flag is left alone: a registry that could not be built whole is deleted while the
// engine stays started (getInstance), and the next lookup builds it again.
CPlayerList::~CPlayerList() {
    delete list;  // destroys every deck still in it
    list = nullptr;
}

CPlayer* CPlayerList::getChannelObject(int index) {
    if (!initialized.load(std::memory_order_acquire)) return nullptr;
    if (index < 0 || index > kMaxDeckIndex) return nullptr;
    std::lock_guard<std::mutex> guard(m_listLock);
    while (list->count <= index) {
        CPlayer* deck = newDeck(list->count);
        if (!deck) return nullptr;
        if (!list->append(deck)) {
            delete deck;
            return nullptr;
        }
    }
    return list->at(index);
}

int CPlayerList::count() {
    std::lock_guard<std::mutex> guard(m_listLock);
    return list->count;
}

void CPlayerList::deletePos(int position) {
    std::lock_guard<std::mutex> guard(m_listLock);
    list->deletePos(position);
}

CPlayer* CTKCore::getPlayerObject(int index) {
    if (!CPlayerList::initialized.load(std::memory_order_acquire)) debugMsg("Init the library first! \n");
    CPlayerList* registry = CPlayerList::getInstance();
    if (!registry || index < 0) return nullptr;
    return registry->getChannelObject(index);
}
