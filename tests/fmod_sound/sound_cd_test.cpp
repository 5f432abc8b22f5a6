// Audio CDs: a .cue/.bin image offered as a drive by the device table, opened as a stream with one
// sub-sound per track and a table-of-contents tag; and a drive with no disc.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device_table_file.hpp"
#include "fmod_testhooks.hpp"
#include "sound_test_util.hpp"
#include "temp_dir.hpp"

namespace {

constexpr int kSectorBytes = 2352;
constexpr int kFramesPerSector = 588;

// Three tracks: the second has a one-second pregap (INDEX 00), which belongs to the first
// track's span as on a real disc.
struct TrackLayout {
    int startSector;  // INDEX 01
    int sectors;      // up to the next track's INDEX 01 (or the end of the image)
};
constexpr TrackLayout kTracks[] = {{0, 475}, {475, 225}, {700, 200}};
constexpr int kTotalSectors = 900;

const char* kCue =
    "FILE \"disc.bin\" BINARY\n"
    "  TRACK 01 AUDIO\n"
    "    INDEX 01 00:00:00\n"
    "  TRACK 02 AUDIO\n"
    "    INDEX 00 00:05:25\n"
    "    INDEX 01 00:06:25\n"
    "  TRACK 03 AUDIO\n"
    "    INDEX 01 00:09:25\n";

class CdImage : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = pw::test::makePcm(kTotalSectors * kFramesPerSector, 2, 2);
        ASSERT_TRUE(pw::test::writeFile(imageDir_.file("disc.bin"), image_));
        ASSERT_TRUE(pw::test::writeFile(imageDir_.file("disc.cue"),
                                        std::vector<unsigned char>(kCue, kCue + std::strlen(kCue))));
        table_ = std::make_unique<pw::test::DeviceTableFile>(
            "cdrom name=\"Virtual CD\" image=\"" + imageDir_.file("disc.cue") + "\"\n"
            "cdrom name=\"Empty drive\"\n");
        system_ = std::make_unique<pw::test::NoSoundSystem>();
        ASSERT_EQ(system_->initResult(), FMOD_OK);
    }
    void TearDown() override {
        system_.reset();
        table_.reset();
    }

    pw::test::TempDir imageDir_{"pw-sound-cd-"};
    std::unique_ptr<pw::test::DeviceTableFile> table_;
    std::vector<unsigned char> image_;
    std::unique_ptr<pw::test::NoSoundSystem> system_;

    int driveIndex(const std::string& name) {
        int n = 0;
        EXPECT_EQ((*system_)->getNumCDROMDrives(&n), FMOD_OK);
        for (int i = 0; i < n; ++i) {
            char buf[256] = {};
            EXPECT_EQ((*system_)->getCDROMDriveName(i, buf, sizeof buf, nullptr, 0, nullptr, 0), FMOD_OK);
            if (name == buf) return i;
        }
        return -1;
    }
};

TEST_F(CdImage, DrivesAreListedWithTheirNames) {
    const int index = driveIndex("Virtual CD");
    ASSERT_GE(index, 0);
    EXPECT_GE(driveIndex("Empty drive"), 0);
    char small[5];
    EXPECT_EQ((*system_)->getCDROMDriveName(index, small, sizeof small, nullptr, 0, nullptr, 0), FMOD_OK);
    EXPECT_STREQ(small, "Virt");
    int n = 0;
    (*system_)->getNumCDROMDrives(&n);
    char buf[8];
    EXPECT_EQ((*system_)->getCDROMDriveName(n, buf, sizeof buf, nullptr, 0, nullptr, 0), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ((*system_)->getCDROMDriveName(-1, buf, sizeof buf, nullptr, 0, nullptr, 0), FMOD_ERR_INVALID_PARAM);
}

TEST_F(CdImage, TracksAreSubSoundsWithTheImageBytes) {
    FMOD::Sound* disc = nullptr;
    ASSERT_EQ((*system_)->createStream("Virtual CD", 0x60C0, nullptr, &disc), FMOD_OK);
    int n = 0;
    ASSERT_EQ(disc->getNumSubSounds(&n), FMOD_OK);
    ASSERT_EQ(n, 3);
    FMOD::Sound* sub = reinterpret_cast<FMOD::Sound*>(0x1);
    EXPECT_EQ(disc->getSubSound(3, &sub), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(disc->getSubSound(-1, &sub), FMOD_ERR_INVALID_PARAM);

    for (int t = 0; t < 3; ++t) {
        SCOPED_TRACE("track " + std::to_string(t + 1));
        ASSERT_EQ(disc->getSubSound(t, &sub), FMOD_OK);
        unsigned frames = 0, bytes = 0, ms = 0;
        sub->getLength(&frames, FMOD_TIMEUNIT_PCM);
        sub->getLength(&bytes, FMOD_TIMEUNIT_PCMBYTES);
        sub->getLength(&ms, FMOD_TIMEUNIT_MS);
        EXPECT_EQ(frames, static_cast<unsigned>(kTracks[t].sectors * kFramesPerSector));
        EXPECT_EQ(bytes, static_cast<unsigned>(kTracks[t].sectors * kSectorBytes));
        EXPECT_EQ(ms, static_cast<unsigned>(kTracks[t].sectors * 1000 / 75));
        FMOD_SOUND_TYPE type;
        int channels = 0, bits = 0;
        float rate = 0;
        sub->getFormat(&type, nullptr, &channels, &bits);
        sub->getDefaults(&rate, nullptr, nullptr, nullptr);
        EXPECT_EQ(type, FMOD_SOUND_TYPE_CDDA);
        EXPECT_EQ(channels, 2);
        EXPECT_EQ(bits, 16);
        EXPECT_EQ(rate, 44100.0f);

        const auto begin = image_.begin() + static_cast<long>(kTracks[t].startSector) * kSectorBytes;
        const std::vector<unsigned char> expected(begin, begin + static_cast<long>(kTracks[t].sectors) * kSectorBytes);
        EXPECT_TRUE(pw::test::readToEnd(sub, 10000) == expected);

        // An exact seek inside the track.
        ASSERT_EQ(sub->seekData(1001), FMOD_OK);
        unsigned char buf[400];
        unsigned got = 0;
        EXPECT_EQ(sub->readData(buf, sizeof buf, &got), FMOD_OK);
        EXPECT_EQ(0, std::memcmp(buf, expected.data() + 1001 * 4, sizeof buf));
    }

    // Releasing a sub-sound is harmless; the disc still reads.
    ASSERT_EQ(disc->getSubSound(1, &sub), FMOD_OK);
    EXPECT_EQ(sub->release(), FMOD_OK);
    unsigned frames = 0;
    EXPECT_EQ(sub->getLength(&frames, FMOD_TIMEUNIT_PCM), FMOD_OK);
    EXPECT_EQ(frames, static_cast<unsigned>(kTracks[1].sectors * kFramesPerSector));
    EXPECT_EQ(disc->release(), FMOD_OK);
}

TEST_F(CdImage, TableOfContentsTagHasAbsoluteTimes) {
    FMOD::Sound* disc = nullptr;
    // The mode the engine uses for disc identifiers.
    ASSERT_EQ((*system_)->createStream("Virtual CD", FMOD_OPENONLY, nullptr, &disc), FMOD_OK);
    int numtags = 0;
    disc->getNumTags(&numtags, nullptr);
    EXPECT_EQ(numtags, 1);
    FMOD_TAG tag;
    ASSERT_EQ(disc->getTag(nullptr, -1, &tag), FMOD_OK);
    EXPECT_EQ(tag.datatype, FMOD_TAGDATATYPE_CDTOC);
    ASSERT_EQ(tag.datalen, sizeof(FMOD_CDTOC));
    const auto* toc = static_cast<const FMOD_CDTOC*>(tag.data);
    ASSERT_EQ(toc->numtracks, 3);
    // Track starts and the lead-out, 150 sectors (2 s) of lead-in added.
    const int expected[4] = {150, 475 + 150, 700 + 150, kTotalSectors + 150};
    for (int i = 0; i <= 3; ++i) {
        EXPECT_EQ(toc->min[i], expected[i] / 75 / 60) << i;
        EXPECT_EQ(toc->sec[i], expected[i] / 75 % 60) << i;
        EXPECT_EQ(toc->frame[i], expected[i] % 75) << i;
    }
    // Read once: the next call finds nothing new, but an index still reaches it.
    EXPECT_EQ(disc->getTag(nullptr, -1, &tag), FMOD_ERR_TAGNOTFOUND);
    EXPECT_EQ(disc->getTag(nullptr, 0, &tag), FMOD_OK);
    EXPECT_EQ(disc->getTag(nullptr, 1, &tag), FMOD_ERR_TAGNOTFOUND);
    disc->release();
}

TEST_F(CdImage, EmptyDriveGivesNoDiscAndNoSound) {
    const int before = pw::testhooks::liveCount(pw::testhooks::Kind::Sound);
    for (FMOD_MODE mode : {FMOD_MODE(0x60C0), FMOD_MODE(0x2000), FMOD_MODE(0x2002)}) {
        FMOD::Sound* sound = reinterpret_cast<FMOD::Sound*>(0x1);
        EXPECT_EQ((*system_)->createStream("Empty drive", mode, nullptr, &sound), FMOD_ERR_CDDA_NODISC);
        EXPECT_EQ(sound, nullptr);
    }
    // The sampler opens with createSound: the same answer.
    FMOD::Sound* sound = reinterpret_cast<FMOD::Sound*>(0x1);
    EXPECT_EQ((*system_)->createSound("Empty drive", 0x249, nullptr, &sound), FMOD_ERR_CDDA_NODISC);
    EXPECT_EQ(sound, nullptr);
    EXPECT_EQ(pw::testhooks::liveCount(pw::testhooks::Kind::Sound), before);
}

// A name that is not a file is looked up among the drives; only a device node may be a real drive,
// so only a device node costs a probe of the hardware (which can take seconds with a drive
// spinning up). Files that do not exist, folders and virtual drive names never probe.
TEST_F(CdImage, OnlyDeviceNodesProbeTheHardwareDrives) {
    const struct {
        std::string name;
        unsigned probes;
    } cases[] = {
        {imageDir_.file("no-such-file.mp3"), 0},
        {"no such name", 0},
        {imageDir_.path(), 0},
        {"Empty drive", 0},
        {"/dev/null", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const unsigned before = pw::testhooks::cdHardwareProbes();
        FMOD::Sound* sound = nullptr;
        EXPECT_NE((*system_)->createStream(c.name.c_str(), 0x2000, nullptr, &sound), FMOD_OK);
        EXPECT_EQ(sound, nullptr);
        EXPECT_EQ(pw::testhooks::cdHardwareProbes() - before, c.probes);
    }
}

}  // namespace
