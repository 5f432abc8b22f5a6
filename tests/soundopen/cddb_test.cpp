// CDDB disc identifiers and query texts, checked against libdiscid (an independent computation
// from the same table of contents) and against the worked examples of the rule.
#include <discid/discid.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CDDB.h"

namespace {

// A table of contents from absolute start offsets in frames (lead-in included) and a lead-out.
FMOD_CDTOC tocOf(const std::vector<int>& starts, int leadOut) {
    FMOD_CDTOC toc;
    std::memset(&toc, 0, sizeof toc);
    toc.numtracks = static_cast<int>(starts.size());
    std::vector<int> all = starts;
    all.push_back(leadOut);
    for (size_t i = 0; i < all.size(); ++i) {
        toc.min[i] = all[i] / 4500;
        toc.sec[i] = all[i] / 75 % 60;
        toc.frame[i] = all[i] % 75;
    }
    return toc;
}

std::string queryOf(FMOD_CDTOC toc) {
    std::vector<char> buffer(kCDDBTextSize, 'Z');
    dump_cddb_query(&toc, buffer.data());
    EXPECT_EQ(buffer[kCDDBTextSize - 1], '\0');
    return std::string(buffer.data());
}

std::string idTextOf(FMOD_CDTOC toc) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", cddb_discid(&toc));
    return text;
}

TEST(CddbSum, DigitSums) {
    const std::pair<int, int> cases[] = {{0, 0}, {-5, 0}, {-100, 0}, {7, 7}, {10, 1}, {123, 6}, {598, 22},
                                         {99999, 45}, {2147483647, 46}};
    for (const auto& c : cases) EXPECT_EQ(cddb_sum(c.first), c.second) << c.first;
}

TEST(CddbExamples, ThreeTracksAtTwoOneEightyAndFourTwenty) {
    const FMOD_CDTOC toc = tocOf({2 * 75, 180 * 75, 420 * 75}, 600 * 75);
    EXPECT_EQ(cddb_discid(const_cast<FMOD_CDTOC*>(&toc)), 0x11025603u);
    EXPECT_EQ(idTextOf(toc), "11025603");
    EXPECT_EQ(queryOf(toc), "11025603 3 150 13500 31500 600");
}

TEST(CddbExamples, NoTracksGiveIdentifierZero) {
    const FMOD_CDTOC toc = tocOf({}, 45 * 75 + 12);
    EXPECT_EQ(cddb_discid(const_cast<FMOD_CDTOC*>(&toc)), 0u);
    EXPECT_EQ(queryOf(toc), "00000000 0 45");
}

TEST(CddbExamples, DamagedTablesStayInsideTheRecord) {
    FMOD_CDTOC toc = tocOf({150, 3000}, 9000);
    toc.numtracks = 150;  // more than the record holds: read as 99
    const std::string many = queryOf(toc);
    EXPECT_EQ(many.substr(9, 3), "99 ");
    EXPECT_EQ(cddb_discid(&toc) & 0xff, 99u);
    toc.numtracks = -3;
    EXPECT_EQ(queryOf(toc), "00000000 0 2");  // read as no tracks: entry 0 is the lead-out
    EXPECT_EQ(cddb_discid(nullptr), 0u);
    char text[kCDDBTextSize];
    std::memset(text, 'Z', sizeof text);
    dump_cddb_query(nullptr, text);
    EXPECT_STREQ(text, "");
    dump_cddb_query(&toc, nullptr);  // nothing to write into: no crash
}

// libdiscid's answer for the same disc: identifier text and query arguments.
struct Oracle {
    std::string id;
    std::string query;
};

Oracle oracleOf(const std::vector<int>& starts, int leadOut) {
    int offsets[100] = {};
    offsets[0] = leadOut;
    for (size_t i = 0; i < starts.size(); ++i) offsets[i + 1] = starts[i];
    DiscId* disc = discid_new();
    Oracle o;
    if (discid_put(disc, 1, static_cast<int>(starts.size()), offsets)) {
        o.id = discid_get_freedb_id(disc);
        std::ostringstream q;
        q << o.id << ' ' << discid_get_last_track_num(disc);
        for (int t = 1; t <= discid_get_last_track_num(disc); ++t) q << ' ' << discid_get_track_offset(disc, t);
        q << ' ' << discid_get_sectors(disc) / 75;
        o.query = q.str();
    }
    discid_free(disc);
    return o;
}

struct Disc {
    std::string what;
    std::vector<int> starts;
    int leadOut;
};

std::vector<Disc> discs() {
    std::vector<Disc> all;
    all.push_back({"one track", {150}, 150 + 3 * 60 * 75 + 17});
    all.push_back({"one track, odd frames", {182}, 150 + 74});
    std::vector<int> ninetyNine;
    for (int t = 0; t < 99; ++t) ninetyNine.push_back(150 + t * 2700 + (t * 37) % 75);
    all.push_back({"99 tracks", ninetyNine, 150 + 99 * 2700 + 11});
    all.push_back({"near 80 minutes", {150, 90000, 180000, 300000}, 79 * 4500 + 59 * 75 + 74});
    all.push_back({"first track late", {33 * 75 + 5, 40 * 75, 41 * 75 + 74}, 50 * 75});
    std::mt19937 random(20250101);
    for (int d = 0; d < 24; ++d) {
        const int n = 1 + static_cast<int>(random() % 30);
        std::vector<int> starts;
        int at = 150 + static_cast<int>(random() % 600);
        for (int t = 0; t < n; ++t) {
            starts.push_back(at);
            at += 300 + static_cast<int>(random() % 12000);
        }
        all.push_back({"random " + std::to_string(d), starts, at});
    }
    return all;
}

TEST(CddbAgainstLibdiscid, IdentifierAndQueryMatch) {
    int compared = 0;
    for (const Disc& d : discs()) {
        SCOPED_TRACE(d.what);
        const Oracle o = oracleOf(d.starts, d.leadOut);
        ASSERT_FALSE(o.id.empty()) << "libdiscid refused the table";
        const FMOD_CDTOC toc = tocOf(d.starts, d.leadOut);
        EXPECT_EQ(idTextOf(toc), o.id);
        EXPECT_EQ(queryOf(toc), o.query);
        ++compared;
    }
    EXPECT_GE(compared, 20);
}

}  // namespace
