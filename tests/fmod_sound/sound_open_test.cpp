// Opening sounds: refusals that must never hand out a sound, names in UTF-16, user sounds made
// from the extended-information record, and the per-sound settings.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "fmod_testhooks.hpp"
#include "sound_test_util.hpp"
#include "temp_dir.hpp"

namespace {

using pw::test::NoSoundSystem;
using pw::test::TempDir;

class OpenFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(system_.initResult(), FMOD_OK);
        ASSERT_TRUE(pw::test::writeFile(dir_.file("in.raw"), pw::test::makePcm(4410, 1, 2)));
        wav_ = dir_.file("x.wav");
        ASSERT_TRUE(pw::test::run("sox -t raw -r 44100 -e signed-integer -b 16 -c 1 " + dir_.file("in.raw") + " " + wav_));
    }

    NoSoundSystem system_;
    TempDir dir_{"pw-sound-open-"};
    std::string wav_;
};

// ---- refusals -----------------------------------------------------------------------------------

struct BadFile {
    const char* name;
    std::vector<unsigned char> content;  // empty with `missing`: no file at all
    bool missing;
    bool directory;
    FMOD_RESULT expected;
};

const BadFile kBadFiles[] = {
    {"missing", {}, true, false, FMOD_ERR_FILE_NOTFOUND},
    {"directory", {}, false, true, FMOD_ERR_FILE_NOTFOUND},
    {"empty", {}, false, false, FMOD_ERR_FORMAT},
    {"three_bytes", {'R', 'I', 'F'}, false, false, FMOD_ERR_FORMAT},
    {"riff_header_only", {'R', 'I', 'F', 'F', 0x24, 0, 0, 0, 'W', 'A', 'V', 'E'}, false, false, FMOD_ERR_FORMAT},
    {"text", std::vector<unsigned char>(300, 'a'), false, false, FMOD_ERR_FORMAT},
};

class BadFiles : public OpenFixture, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadFiles, AreRefusedWithoutASound) {
    const BadFile& c = GetParam();
    const std::string path = dir_.file(std::string(c.name) + ".mp3");
    if (c.directory) {
        ASSERT_TRUE(pw::test::run("mkdir " + path));
    } else if (!c.missing) {
        ASSERT_TRUE(pw::test::writeFile(path, c.content));
    }
    const int before = pw::testhooks::liveCount(pw::testhooks::Kind::Sound);
    for (FMOD_MODE mode : {FMOD_MODE(0x20C0), FMOD_MODE(0xE0CA), FMOD_MODE(0x249), FMOD_MODE(0xC9)}) {
        FMOD::Sound* sound = reinterpret_cast<FMOD::Sound*>(0x1);
        EXPECT_EQ(system_->createSound(path.c_str(), mode, nullptr, &sound), c.expected) << std::hex << mode;
        EXPECT_EQ(sound, nullptr);
        sound = reinterpret_cast<FMOD::Sound*>(0x1);
        EXPECT_EQ(system_->createStream(path.c_str(), mode, nullptr, &sound), c.expected) << std::hex << mode;
        EXPECT_EQ(sound, nullptr);
    }
    EXPECT_EQ(pw::testhooks::liveCount(pw::testhooks::Kind::Sound), before);
}

INSTANTIATE_TEST_SUITE_P(Files, BadFiles, ::testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpenFixture, NullNameAndOpenFromMemoryAreRefused) {
    FMOD::Sound* sound = nullptr;
    EXPECT_EQ(system_->createSound(nullptr, 0x20C0, nullptr, &sound), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(sound, nullptr);
    EXPECT_EQ(system_->createSound(wav_.c_str(), FMOD_OPENMEMORY, nullptr, &sound), FMOD_ERR_UNSUPPORTED);
    EXPECT_EQ(sound, nullptr);
    EXPECT_EQ(system_->createSound(wav_.c_str(), 0x20C0, nullptr, nullptr), FMOD_ERR_INVALID_PARAM);
}

// ---- UTF-16 names (decision D1) -------------------------------------------------------------------

TEST_F(OpenFixture, Utf16NameWithNonLatinCharactersOpens) {
    // Cyrillic, CJK and a character outside the basic plane (a surrogate pair in UTF-16).
    const std::string utf8Name = "\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82_\xE9\x9F\xB3\xE6\xA5\xBD_\xF0\x9F\x8E\xB5.wav";
    const std::u16string utf16Name = u"\u0422\u0435\u0441\u0442_\u97F3\u697D_\U0001F3B5.wav";
    ASSERT_TRUE(pw::test::run("cp " + wav_ + " '" + dir_.file(utf8Name) + "'"));
    const std::u16string dir16(dir_.path().begin(), dir_.path().end());  // the temp path is ASCII
    const std::vector<char16_t> name = pw::test::utf16(dir16 + u"/" + utf16Name);
    for (FMOD_MODE mode : {FMOD_MODE(0x010020C0), FMOD_MODE(0x0100E0CA), FMOD_MODE(0x01000249)}) {
        FMOD::Sound* sound = nullptr;
        ASSERT_EQ(system_->createSound(reinterpret_cast<const char*>(name.data()), mode, nullptr, &sound), FMOD_OK)
            << std::hex << mode;
        unsigned frames = 0;
        EXPECT_EQ(sound->getLength(&frames, FMOD_TIMEUNIT_PCM), FMOD_OK);
        EXPECT_EQ(frames, 4410u);
        sound->release();
    }
    // The same name without the unicode bit is not a file.
    FMOD::Sound* sound = nullptr;
    EXPECT_EQ(system_->createSound(reinterpret_cast<const char*>(name.data()), 0x20C0, nullptr, &sound),
              FMOD_ERR_FILE_NOTFOUND);
}

// ---- user sounds and the extended-information record ---------------------------------------------

FMOD_CREATESOUNDEXINFO lineInRecord() {
    FMOD_CREATESOUNDEXINFO ex;
    std::memset(&ex, 0, sizeof ex);
    ex.cbsize = 208;  // what the engine passes
    ex.length = 17640;
    ex.numchannels = 1;
    ex.defaultfrequency = 44100;
    ex.format = FMOD_SOUND_FORMAT_PCM16;
    return ex;
}

TEST_F(OpenFixture, UserSoundHasTheShapeOfItsRecord) {
    FMOD_CREATESOUNDEXINFO ex = lineInRecord();
    int tag = 0;
    ex.userdata = &tag;
    FMOD::Sound* sound = nullptr;
    ASSERT_EQ(system_->createSound(nullptr, 0x44A, &ex, &sound), FMOD_OK);
    unsigned ms = 0, frames = 0, bytes = 0;
    sound->getLength(&ms, FMOD_TIMEUNIT_MS);
    sound->getLength(&frames, FMOD_TIMEUNIT_PCM);
    sound->getLength(&bytes, FMOD_TIMEUNIT_PCMBYTES);
    EXPECT_EQ(ms, 200u);
    EXPECT_EQ(frames, 8820u);
    EXPECT_EQ(bytes, 17640u);
    FMOD_SOUND_FORMAT format;
    int channels = 0, bits = 0;
    float rate = 0;
    sound->getFormat(nullptr, &format, &channels, &bits);
    sound->getDefaults(&rate, nullptr, nullptr, nullptr);
    EXPECT_EQ(format, FMOD_SOUND_FORMAT_PCM16);
    EXPECT_EQ(channels, 1);
    EXPECT_EQ(bits, 16);
    EXPECT_EQ(rate, 44100.0f);
    void* data = nullptr;
    sound->getUserData(&data);
    EXPECT_EQ(data, &tag);

    // Written through lock, read back through readData; a span past the end wraps to the start.
    void* p1 = nullptr;
    void* p2 = nullptr;
    unsigned l1 = 0, l2 = 0;
    ASSERT_EQ(sound->lock(17000, 1000, &p1, &p2, &l1, &l2), FMOD_OK);
    EXPECT_EQ(l1, 640u);
    EXPECT_EQ(l2, 360u);
    ASSERT_NE(p2, nullptr);
    std::memset(p1, 0x11, l1);
    std::memset(p2, 0x22, l2);
    EXPECT_EQ(sound->unlock(p1, p2, l1, l2), FMOD_OK);
    const std::vector<unsigned char> all = pw::test::readToEnd(sound, 4096);
    ASSERT_EQ(all.size(), 17640u);
    EXPECT_EQ(all[0], 0x22);
    EXPECT_EQ(all[359], 0x22);
    EXPECT_EQ(all[360], 0x00);
    EXPECT_EQ(all[16999], 0x00);
    EXPECT_EQ(all[17000], 0x11);
    EXPECT_EQ(all[17639], 0x11);
    EXPECT_EQ(sound->lock(17640, 10, &p1, &p2, &l1, &l2), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(sound->lock(0, 17641, &p1, &p2, &l1, &l2), FMOD_ERR_INVALID_PARAM);
    sound->release();
}

struct BadRecord {
    const char* name;
    void (*spoil)(FMOD_CREATESOUNDEXINFO*);
};

const BadRecord kBadRecords[] = {
    {"no_size", [](FMOD_CREATESOUNDEXINFO* e) { e->cbsize = 0; }},
    {"size_short_of_format", [](FMOD_CREATESOUNDEXINFO* e) { e->cbsize = offsetof(FMOD_CREATESOUNDEXINFO, format); }},
    {"no_channels", [](FMOD_CREATESOUNDEXINFO* e) { e->numchannels = 0; }},
    {"negative_channels", [](FMOD_CREATESOUNDEXINFO* e) { e->numchannels = -2; }},
    {"no_rate", [](FMOD_CREATESOUNDEXINFO* e) { e->defaultfrequency = 0; }},
    {"no_format", [](FMOD_CREATESOUNDEXINFO* e) { e->format = FMOD_SOUND_FORMAT_NONE; }},
    {"bogus_format", [](FMOD_CREATESOUNDEXINFO* e) { e->format = static_cast<FMOD_SOUND_FORMAT>(99); }},
    {"less_than_a_frame", [](FMOD_CREATESOUNDEXINFO* e) { e->length = 1; }},
};

class BadRecords : public OpenFixture, public ::testing::WithParamInterface<BadRecord> {};

TEST_P(BadRecords, UserSoundIsRefused) {
    FMOD_CREATESOUNDEXINFO ex = lineInRecord();
    GetParam().spoil(&ex);
    FMOD::Sound* sound = reinterpret_cast<FMOD::Sound*>(0x1);
    EXPECT_EQ(system_->createSound(nullptr, 0x44A, &ex, &sound), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(sound, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Records, BadRecords, ::testing::ValuesIn(kBadRecords),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpenFixture, UserDataIsTakenOnlyWhenTheRecordCoversIt) {
    int tag = 0;
    FMOD_CREATESOUNDEXINFO ex;
    std::memset(&ex, 0, sizeof ex);
    ex.userdata = &tag;
    for (int size : {208, static_cast<int>(offsetof(FMOD_CREATESOUNDEXINFO, userdata) + sizeof(void*)),
                     static_cast<int>(offsetof(FMOD_CREATESOUNDEXINFO, userdata))}) {
        ex.cbsize = size;
        FMOD::Sound* sound = nullptr;
        ASSERT_EQ(system_->createSound(wav_.c_str(), 0x20C0, &ex, &sound), FMOD_OK) << size;
        void* data = reinterpret_cast<void*>(0x1);
        sound->getUserData(&data);
        const bool covered = static_cast<size_t>(size) >= offsetof(FMOD_CREATESOUNDEXINFO, userdata) + sizeof(void*);
        EXPECT_EQ(data, covered ? static_cast<void*>(&tag) : nullptr) << size;
        sound->setUserData(&ex);
        sound->getUserData(&data);
        EXPECT_EQ(data, &ex);
        sound->release();
    }
}

// ---- settings, structure, lifetime -----------------------------------------------------------------

TEST_F(OpenFixture, FilesHaveNoSubSoundsNorTagsAndModesRoundTrip) {
    FMOD::Sound* sound = nullptr;
    ASSERT_EQ(system_->createSound(wav_.c_str(), 0x249, nullptr, &sound), FMOD_OK);
    int n = -1;
    EXPECT_EQ(sound->getNumSubSounds(&n), FMOD_OK);
    EXPECT_EQ(n, 0);
    FMOD::Sound* sub = reinterpret_cast<FMOD::Sound*>(0x1);
    EXPECT_EQ(sound->getSubSound(0, &sub), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(sub, nullptr);
    FMOD_TAG tag;
    EXPECT_EQ(sound->getTag(nullptr, -1, &tag), FMOD_ERR_TAGNOTFOUND);

    FMOD_MODE mode = 0;
    sound->getMode(&mode);
    EXPECT_EQ(mode & (FMOD_LOOP_OFF | FMOD_LOOP_NORMAL), FMOD_LOOP_OFF);
    EXPECT_EQ(sound->setMode(FMOD_LOOP_NORMAL), FMOD_OK);
    sound->getMode(&mode);
    EXPECT_EQ(mode & (FMOD_LOOP_OFF | FMOD_LOOP_NORMAL), FMOD_LOOP_NORMAL);
    EXPECT_EQ(mode & FMOD_CREATECOMPRESSEDSAMPLE, FMOD_CREATECOMPRESSEDSAMPLE);  // other bits stay
    EXPECT_EQ(sound->setMode(FMOD_LOOP_OFF), FMOD_OK);
    sound->getMode(&mode);
    EXPECT_EQ(mode & (FMOD_LOOP_OFF | FMOD_LOOP_NORMAL), FMOD_LOOP_OFF);

    unsigned start = 1, end = 1;
    EXPECT_EQ(sound->getLoopPoints(&start, FMOD_TIMEUNIT_PCM, &end, FMOD_TIMEUNIT_PCM), FMOD_OK);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 4409u);
    EXPECT_EQ(sound->setLoopPoints(10, FMOD_TIMEUNIT_MS, 50, FMOD_TIMEUNIT_MS), FMOD_OK);
    EXPECT_EQ(sound->getLoopPoints(&start, FMOD_TIMEUNIT_PCM, &end, FMOD_TIMEUNIT_PCM), FMOD_OK);
    EXPECT_EQ(start, 441u);
    EXPECT_EQ(end, 2205u);
    EXPECT_EQ(sound->setLoopPoints(50, FMOD_TIMEUNIT_PCM, 10, FMOD_TIMEUNIT_PCM), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(sound->getLength(&start, 0x100), FMOD_ERR_INVALID_PARAM);

    FMOD::System* owner = nullptr;
    sound->getSystemObject(&owner);
    EXPECT_EQ(owner, system_.get());
    sound->release();
}

TEST_F(OpenFixture, LiveCountFollowsCreateAndRelease) {
    const int before = pw::testhooks::liveCount(pw::testhooks::Kind::Sound);
    FMOD::Sound* a = nullptr;
    FMOD::Sound* b = nullptr;
    ASSERT_EQ(system_->createSound(wav_.c_str(), 0x249, nullptr, &a), FMOD_OK);
    ASSERT_EQ(system_->createStream(wav_.c_str(), 0xC9, nullptr, &b), FMOD_OK);
    EXPECT_EQ(pw::testhooks::liveCount(pw::testhooks::Kind::Sound), before + 2);
    EXPECT_EQ(a->release(), FMOD_OK);
    EXPECT_EQ(pw::testhooks::liveCount(pw::testhooks::Kind::Sound), before + 1);
    // System::release frees what is left.
    {
        FMOD::System* other = nullptr;
        ASSERT_EQ(FMOD_System_Create(&other), FMOD_OK);
        other->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
        ASSERT_EQ(other->init(4, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
        FMOD::Sound* c = nullptr;
        ASSERT_EQ(other->createSound(wav_.c_str(), 0x249, nullptr, &c), FMOD_OK);
        EXPECT_EQ(pw::testhooks::liveCount(pw::testhooks::Kind::Sound), before + 2);
        other->release();
    }
    EXPECT_EQ(pw::testhooks::liveCount(pw::testhooks::Kind::Sound), before + 1);
    EXPECT_EQ(b->release(), FMOD_OK);
    EXPECT_EQ(pw::testhooks::liveCount(pw::testhooks::Kind::Sound), before);
}

}  // namespace
