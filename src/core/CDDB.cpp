// CDDB disc identifier and query text; see CDDB.h for the rule.
#include "CDDB.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kMaxTracks = 99;     // FMOD_CDTOC holds 100 entries: 99 starts and the lead-out
constexpr int kPieceLimit = 1024;  // each formatted piece is cut at this many bytes

int trackCount(const FMOD_CDTOC* toc) {
    if (toc->numtracks < 0) return 0;
    return toc->numtracks > kMaxTracks ? kMaxTracks : toc->numtracks;
}

int wholeSeconds(const FMOD_CDTOC* toc, int entry) { return toc->min[entry] * 60 + toc->sec[entry]; }

int startFrames(const FMOD_CDTOC* toc, int entry) {
    return toc->min[entry] * 4500 + toc->sec[entry] * 75 + toc->frame[entry];
}

// Appends " <value>" at *used (formatted with its own 1024-byte limit), never past the buffer's
// last byte, and moves *used past what was written.
void appendNumber(char* query, int* used, int value) {
    char piece[kPieceLimit];
    std::snprintf(piece, sizeof piece, " %d", value);
    const int room = kCDDBTextSize - *used;  // bytes left, terminator included
    if (room <= 1) return;
    const int written = std::snprintf(query + *used, static_cast<size_t>(room), "%s", piece);
    if (written > 0) *used += std::min(written, room - 1);
}

}  // namespace

int cddb_sum(int value) {
    int sum = 0;
    while (value > 0) {
        sum += value % 10;
        value /= 10;
    }
    return sum;
}

unsigned int cddb_discid(FMOD_CDTOC* toc) {
    if (toc == nullptr) return 0;
    const int n = trackCount(toc);
    int checksum = 0;
    for (int i = 0; i < n; ++i) checksum += cddb_sum(wholeSeconds(toc, i));
    const int length = wholeSeconds(toc, n) - wholeSeconds(toc, 0);
    // Unsigned arithmetic: the fields are bit patterns, and a damaged table must not make the
    // shifts undefined.
    return (static_cast<unsigned int>(checksum % 255) << 24) | (static_cast<unsigned int>(length) << 8) |
           static_cast<unsigned int>(n);
}

void dump_cddb_query(FMOD_CDTOC* toc, char* query) {
    if (query == nullptr) return;
    query[0] = '\0';
    query[kCDDBTextSize - 1] = '\0';
    if (toc == nullptr) return;
    const int n = trackCount(toc);
    int used = std::snprintf(query, kPieceLimit, "%08x %d", cddb_discid(toc), n);
    if (used < 0) used = 0;
    if (used > kPieceLimit - 1) used = kPieceLimit - 1;
    for (int i = 0; i < n; ++i) appendNumber(query, &used, startFrames(toc, i));
    appendNumber(query, &used, wholeSeconds(toc, n));
    query[kCDDBTextSize - 1] = '\0';
}
