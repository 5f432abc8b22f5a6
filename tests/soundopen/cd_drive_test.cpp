// CD drives on a virtual drive holding a generated .cue/.bin image: the drive list, the disc's
// identifier and query text against libdiscid, track lengths through ".cda" and "cd://" names,
// an empty drive, and an engine without an output slot.
#include <discid/discid.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "CDDB.h"
#include "SoundHandles.h"
#include "TKCore.h"
#include "fmod_testhooks.hpp"
#include "soundopen_support.h"

namespace {

using pw::testhooks::Kind;
using pw::testhooks::liveCount;

class CdDrive : public soundopen::EngineFixture {
protected:
    std::string extraTableLines() override {
        image_.trackSectors = {450, 301, 1200, 76};
        if (!soundopen::writeCdImage(files_.path(), "disc", &image_)) ADD_FAILURE() << "no image";
        return "cdrom name=\"E:\" image=\"" + image_.cuePath + "\"\n" + "cdrom name=\"/dev/vcd1\" image=\"" +
               image_.cuePath + "\"\n" + "cdrom name=\"Empty drive\"\n";
    }
    void SetUp() override {
        EngineFixture::SetUp();
        ASSERT_EQ(initResult_, 1);
    }

    // What libdiscid computes for the image's layout.
    void oracle(std::string* id, std::string* query) const {
        int offsets[100] = {};
        const int n = static_cast<int>(image_.trackSectors.size());
        offsets[0] = image_.startFrames(n);
        for (int t = 0; t < n; ++t) offsets[t + 1] = image_.startFrames(t);
        DiscId* disc = discid_new();
        ASSERT_TRUE(discid_put(disc, 1, n, offsets));
        *id = discid_get_freedb_id(disc);
        std::ostringstream q;
        q << *id << ' ' << n;
        for (int t = 1; t <= n; ++t) q << ' ' << discid_get_track_offset(disc, t);
        q << ' ' << discid_get_sectors(disc) / 75;
        *query = q.str();
        discid_free(disc);
    }

    unsigned trackMs(int track) const {
        return static_cast<unsigned>(image_.trackSectors[static_cast<size_t>(track)] * 1000 / 75);
    }

    soundopen::CdImage image_;
};

TEST_F(CdDrive, DrivesAreListed) {
    std::vector<std::vector<char>> buffers(256, std::vector<char>(256, '\0'));
    std::vector<char*> names;
    for (auto& b : buffers) names.push_back(b.data());
    int count = -1;
    ASSERT_EQ(t_core.GetCDDrives(&count, names.data()), 1);
    ASSERT_GE(count, 3);
    std::vector<std::string> listed(names.begin(), names.begin() + count);
    for (const char* wanted : {"E:", "/dev/vcd1", "Empty drive"})
        EXPECT_NE(std::find(listed.begin(), listed.end(), wanted), listed.end()) << wanted;
}

TEST_F(CdDrive, DiscInfoMatchesLibdiscid) {
    std::string id, query;
    oracle(&id, &query);
    for (std::string drive : {"E:", "/dev/vcd1"}) {
        SCOPED_TRACE(drive);
        unsigned int tracks = 0;
        std::vector<char> idText(kCDDBTextSize, 'Z'), queryText(kCDDBTextSize, 'Z');
        ASSERT_EQ(t_core.GetCDInfo(&drive[0], &tracks, idText.data(), queryText.data()), 1);
        EXPECT_EQ(tracks, image_.trackSectors.size());
        EXPECT_EQ(std::string(idText.data()), id);
        EXPECT_EQ(std::string(queryText.data()), query);
        EXPECT_EQ(queryText[kCDDBTextSize - 1], '\0');
    }
}

TEST_F(CdDrive, EmptyAndUnknownDrives) {
    const int soundsBefore = liveCount(Kind::Sound);
    unsigned int tracks = 77;
    char idText[kCDDBTextSize] = "untouched", queryText[kCDDBTextSize] = "untouched";
    std::string empty = "Empty drive", unknown = "No such drive";
    EXPECT_EQ(t_core.GetCDInfo(&empty[0], &tracks, idText, queryText), -20);
    EXPECT_EQ(tracks, 77u);
    // No stream for another reason: still 1, no tracks, the texts as passed.
    EXPECT_EQ(t_core.GetCDInfo(&unknown[0], &tracks, idText, queryText), 1);
    EXPECT_EQ(tracks, 0u);
    EXPECT_STREQ(idText, "untouched");
    EXPECT_STREQ(queryText, "untouched");
    EXPECT_EQ(t_core.GetCDInfo(nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(liveCount(Kind::Sound), soundsBefore) << "every disc stream is released";
}

TEST_F(CdDrive, TracksOpenByName) {
    std::string id, query;
    oracle(&id, &query);
    // ".cda" names pass the type check only through a supported extension, and the file test
    // needs a file: "E:/Track03.cda.wav" in the working directory names drive "E:", track 3.
    ASSERT_EQ(mkdir("E:", 0755), 0);
    for (const char* leaf : {"Track03.cda.wav", "Track04.CDA.wav", "Track01.cda.wav", "TrackXX.cda.wav",
                             "Track05.cda.wav", "Track09.cda.wav"})
        ASSERT_TRUE(soundopen::writeBytes(std::string("E:/") + leaf, 200));

    // name, status, track (1-based) whose length it has
    struct Case {
        std::string name;
        int status;
        int track;
    } cases[] = {
        {"E:/Track03.cda.wav", 1, 3},
        {"E:/Track04.CDA.wav", 1, 4},
        {"E:/Track01.cda.wav", 1, 1},
        {"E:/TrackXX.cda.wav", -3, 0},   // no digits: track 0, no such sub-sound
        {"E:/Track05.cda.wav", -3, 0},   // one past the last track
        {"E:/Track09.cda.wav", -3, 0},
        {"E:\\Track03.cda", -16, 0},      // no supported extension: refused by the type check
        {"cd://E:/" + id + "/2", 1, 2},
        {"cd:///dev/vcd1/" + id + "/4", 1, 4},  // the device keeps its own slashes
        {"CD://E:/" + id + "/1", 1, 1},
        {"cd://E:/" + id + "/5", -3, 0},  // count + 1
        {"cd://E:/" + id + "/0", -3, 0},
        {"cd://E:/" + id + "/x", -5, 0},  // no number
        {"cd://E:/" + id + "/", -5, 0},
        {"cd://Empty drive/" + id + "/1", -3, 0},
        {"cd://nowhere/" + id + "/1", -3, 0},
        {"cd://E:", -3, 0},               // no slash at all: no device
    };
    const int soundsBefore = liveCount(Kind::Sound);
    for (Case& c : cases) {
        for (bool unicode : {false, true}) {
            SCOPED_TRACE(c.name + (unicode ? " UTF-16" : ""));
            std::vector<char> name = unicode ? soundopen::utf16(c.name) : std::vector<char>(c.name.begin(), c.name.end());
            if (!unicode) name.push_back('\0');
            int64_t handle = 0;
            ASSERT_EQ(t_core.OpenFile(name.data(), unicode, &handle), c.status);
            if (c.status != 1) {
                EXPECT_EQ(handle, 0);
                continue;
            }
            unsigned int ms = 0;
            EXPECT_EQ(t_core.GetSongLength(static_cast<uint64_t>(handle), &ms), 1);
            EXPECT_EQ(ms, trackMs(c.track - 1));
            EXPECT_EQ(t_core.CloseFile(handle), 1);
            ms = 0;
            EXPECT_EQ(t_core.CalcSongLength(name.data(), &ms, unicode), 1);
            EXPECT_EQ(ms, trackMs(c.track - 1));
        }
    }
    // Closing a track releases the disc stream it was cut from.
    EXPECT_EQ(liveCount(Kind::Sound), soundsBefore);
}

TEST_F(CdDrive, BeforeStartUp) {
    t_core.CleanUp();
    int count = 42;
    EXPECT_EQ(t_core.GetCDDrives(&count, nullptr), -1);
    EXPECT_EQ(count, 42);
    std::string drive = "E:";
    unsigned int tracks = 0;
    EXPECT_EQ(t_core.GetCDInfo(&drive[0], &tracks, nullptr, nullptr), -5);
}

class CdWithoutOutput : public CdDrive {
protected:
    unsigned int startMode() override { return 2; }
};

TEST_F(CdWithoutOutput, NoFirstSlot) {
    ASSERT_EQ(CTKCore::g_Systems[0], nullptr);
    int count = 42;
    std::vector<char> one(256);
    char* names[1] = {one.data()};
    EXPECT_EQ(t_core.GetCDDrives(&count, names), -30);
    EXPECT_EQ(count, 42);
    std::string drive = "E:";
    unsigned int tracks = 9;
    EXPECT_EQ(t_core.GetCDInfo(&drive[0], &tracks, nullptr, nullptr), -5);
    EXPECT_EQ(tracks, 9u);
}

}  // namespace
