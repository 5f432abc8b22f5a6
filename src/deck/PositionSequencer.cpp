#include "PositionSequencer.h"

PositionSequencer::PositionSequencer() = default;
PositionSequencer::~PositionSequencer() = default;

bool PositionSequencer::addSnippet(unsigned int start, unsigned int end) {
    CRITSECT_SCOPE(m_sequencerLock);
    m_snippets.push_back(PositionSnippet{start, end});
    return true;
}

bool PositionSequencer::isPositionsAvailable() {
    CRITSECT_SCOPE(m_sequencerLock);
    return !m_snippets.empty();
}

PositionSnippet PositionSequencer::getCurrentPositionSnippet() {
    CRITSECT_SCOPE(m_sequencerLock);
    return m_snippets.at(0);  // the scope releases the lock if this throws
}

PositionSnippet PositionSequencer::removeCurrentPositionSnippet() {
    CRITSECT_SCOPE(m_sequencerLock);
    const PositionSnippet front = m_snippets.at(0);
    m_snippets.erase(m_snippets.begin());
    return front;
}
