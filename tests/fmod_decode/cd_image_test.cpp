// CD drives and discs from .cue/.bin images made here: the drive list, 8 for an empty drive,
// track count and lengths (a track keeps the next track's pregap), the table of contents in
// absolute MSF with the 2-second lead-in, and track audio identical to the image bytes.
#include <gtest/gtest.h>

#include <fstream>

#include "cd.hpp"
#include "decode_fixture.hpp"

namespace pw::decode::test {
namespace {

constexpr size_t kSector = 2352;

struct Msf {
    int m, s, f;
};

struct DiscCase {
    const char* name;
    const char* cueTracks;       // the TRACK lines after the FILE line
    int totalSectors;            // size of the .bin
    std::vector<int> trackStart; // INDEX 01 of each audio track, in sectors from the image start
    std::vector<int> trackSectors;
    std::vector<Msf> toc;        // track starts, then the lead-out
};

const DiscCase kDiscs[] = {
    {"three_tracks_one_pregap",
     "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
     "  TRACK 02 AUDIO\n    INDEX 00 00:02:00\n    INDEX 01 00:03:00\n"
     "  TRACK 03 AUDIO\n    INDEX 01 00:04:10\n",
     375, {0, 225, 310}, {225, 85, 65}, {{0, 2, 0}, {0, 5, 0}, {0, 6, 10}, {0, 7, 0}}},
    {"two_tracks_past_a_minute",
     "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
     "  TRACK 02 AUDIO\n    INDEX 00 00:59:70\n    INDEX 01 01:00:01\n",
     4600, {0, 4501}, {4501, 99}, {{0, 2, 0}, {1, 2, 1}, {1, 3, 25}}},
    {"single_track",
     "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
     10, {0}, {10}, {{0, 2, 0}, {0, 2, 10}}},
};

class CdImage : public ::testing::TestWithParam<DiscCase> {
protected:
    void SetUp() override {
        const DiscCase& c = GetParam();
        image_ = fullRangePcm(2, 2, c.totalSectors * 588, 77);
        // The image driver reads the .bin named like the .cue, whatever the FILE line says.
        writeFile(dir_.file("disc.bin"), image_);
        std::ofstream cue(dir_.file("disc.cue"));
        cue << "FILE \"disc.bin\" BINARY\n" << c.cueTracks;
        cue.close();
        drive_ = {"Virtual CD", dir_.file("disc.cue")};
    }

    TempDir dir_;
    Bytes image_;
    cd::DriveEntry drive_;
};

TEST_P(CdImage, TracksAndTableOfContents) {
    const DiscCase& c = GetParam();
    std::unique_ptr<cd::Disc> disc;
    ASSERT_EQ(cd::openDisc(drive_, &disc), FMOD_OK);
    ASSERT_EQ(disc->numTracks(), static_cast<int>(c.trackStart.size()));
    const FMOD_CDTOC& toc = disc->toc();
    ASSERT_EQ(toc.numtracks, static_cast<int>(c.trackStart.size()));
    for (size_t i = 0; i < c.toc.size(); ++i) {
        EXPECT_EQ(toc.min[i], c.toc[i].m) << "entry " << i;
        EXPECT_EQ(toc.sec[i], c.toc[i].s) << "entry " << i;
        EXPECT_EQ(toc.frame[i], c.toc[i].f) << "entry " << i;
    }
    for (size_t t = 0; t < c.trackStart.size(); ++t) {
        auto track = disc->openTrack(static_cast<int>(t));
        ASSERT_TRUE(track);
        const StreamInfo& info = track->info();
        EXPECT_EQ(info.rate, 44100);
        EXPECT_EQ(info.channels, 2);
        EXPECT_EQ(info.format, FMOD_SOUND_FORMAT_PCM16);
        EXPECT_EQ(info.type, FMOD_SOUND_TYPE_CDDA);
        EXPECT_EQ(info.lengthFrames, static_cast<uint64_t>(c.trackSectors[t]) * 588) << "track " << t;
    }
    EXPECT_EQ(disc->openTrack(-1), nullptr);
    EXPECT_EQ(disc->openTrack(disc->numTracks()), nullptr);
}

TEST_P(CdImage, TrackAudioIsTheImage) {
    const DiscCase& c = GetParam();
    std::unique_ptr<cd::Disc> disc;
    ASSERT_EQ(cd::openDisc(drive_, &disc), FMOD_OK);
    for (size_t t = 0; t < c.trackStart.size(); ++t) {
        auto track = disc->openTrack(static_cast<int>(t));
        ASSERT_TRUE(track);
        const auto begin = image_.begin() + static_cast<long>(c.trackStart[t] * kSector);
        const Bytes want(begin, begin + static_cast<long>(c.trackSectors[t] * kSector));
        EXPECT_EQ(firstDifference(readAll(*track, 1000), want), "") << "track " << t;
        // Seeks inside, at a sector boundary, and at the end.
        for (uint64_t frame : {uint64_t{1234}, uint64_t{588}, uint64_t{0}, track->info().lengthFrames - 3}) {
            if (frame >= track->info().lengthFrames)
                continue;
            ASSERT_TRUE(track->seek(frame));
            const Bytes got = readSome(*track, 700);
            const size_t n = std::min<size_t>(700, track->info().lengthFrames - frame) * 4;
            EXPECT_EQ(firstDifference(got, Bytes(want.begin() + static_cast<long>(frame * 4),
                                                 want.begin() + static_cast<long>(frame * 4 + n))),
                      "")
                << "track " << t << " after a seek to " << frame;
        }
        EXPECT_TRUE(track->seek(track->info().lengthFrames));
        unsigned char spare[8];
        EXPECT_EQ(track->read(spare, 1), 0);
        EXPECT_FALSE(track->seek(track->info().lengthFrames + 1));
    }
}

TEST_P(CdImage, TracksReadIndependently) {
    std::unique_ptr<cd::Disc> disc;
    ASSERT_EQ(cd::openDisc(drive_, &disc), FMOD_OK);
    auto a = disc->openTrack(0);
    auto b = disc->openTrack(0);
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(b->seek(100));
    const Bytes fromA = readSome(*a, 50);
    const Bytes fromB = readSome(*b, 50);
    EXPECT_EQ(firstDifference(fromA, Bytes(image_.begin(), image_.begin() + 200)), "");
    EXPECT_EQ(firstDifference(fromB, Bytes(image_.begin() + 400, image_.begin() + 600)), "");
    disc.reset();  // a track outlives its disc object
    EXPECT_EQ(readSome(*a, 10).size(), 40u);
}

void PrintTo(const DiscCase& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Images, CdImage, ::testing::ValuesIn(kDiscs),
                         [](const ::testing::TestParamInfo<DiscCase>& i) { return std::string(i.param.name); });

TEST(CdDrives, VirtualDrivesFollowRealOnes) {
    const auto withNone = cd::listDrives({}, {});
    const auto drives = cd::listDrives({"Deck CD", "Empty CD"}, {"/x/disc.cue"});
    ASSERT_EQ(drives.size(), withNone.size() + 2);
    for (size_t i = 0; i < withNone.size(); ++i)
        EXPECT_EQ(drives[i].name, withNone[i].name);
    EXPECT_EQ(drives[withNone.size()].name, "Deck CD");
    EXPECT_EQ(drives[withNone.size()].devicePath, "/x/disc.cue");
    EXPECT_EQ(drives.back().name, "Empty CD");
    EXPECT_EQ(drives.back().devicePath, "");
}

TEST(CdDrives, FailuresByKind) {
    TempDir dir;
    writeFile(dir.file("data.bin"), Bytes(kSector * 20, 0));
    std::ofstream(dir.file("data.cue")) << "FILE \"data.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
    std::ofstream(dir.file("nobin.cue")) << "FILE \"nobin.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    writeFile(dir.file("junk.cue"), {'x', 'y', 'z'});
    const struct {
        const char* what;
        std::string path;
        FMOD_RESULT result;
    } cases[] = {
        {"empty drive", "", FMOD_ERR_CDDA_NODISC},
        {"image without its .bin", dir.file("nobin.cue"), FMOD_ERR_CDDA_NODISC},
        {"unreadable image", dir.file("junk.cue"), FMOD_ERR_CDDA_NODISC},
        {"data-only disc", dir.file("data.cue"), FMOD_ERR_CDDA_NOAUDIO},
        {"no such device", dir.file("absent.cue"), FMOD_ERR_CDDA_INVALID_DEVICE},
    };
    for (const auto& c : cases) {
        std::unique_ptr<cd::Disc> disc;
        EXPECT_EQ(cd::openDisc({"CD", c.path}, &disc), c.result) << c.what;
        EXPECT_EQ(disc, nullptr) << c.what;
    }
}

}  // namespace
}  // namespace pw::decode::test
