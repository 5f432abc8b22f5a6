// Decoders of different files, and several tracks of one disc, used from several threads at once
// give the same samples as one at a time: no decoder shares state with another.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <thread>

#include "cd.hpp"
#include "decode_fixture.hpp"

namespace pw::decode::test {
namespace {

TEST(ConcurrentDecode, ParallelDecodersMatchSerialOnes) {
    ASSERT_NE(aacPlugin(), nullptr);
    TempDir dir;
    writeFile(dir.file("in.raw"), tonePcm16(2, 44100, 44100, 21));
    ASSERT_TRUE(run("sox -t raw -e signed -b 16 -c 2 -r 44100 -L " + dir.file("in.raw") + " " + dir.file("a.wav")));
    ASSERT_TRUE(run("lame --quiet " + dir.file("a.wav") + " " + dir.file("a.mp3")));
    ASSERT_TRUE(run("flac -s -f " + dir.file("a.wav") + " -o " + dir.file("a.flac")));
    ASSERT_TRUE(run("oggenc -Q " + dir.file("a.wav") + " -o " + dir.file("a.ogg")));
    ASSERT_TRUE(run("ffmpeg -loglevel error -y -i " + dir.file("a.wav") + " -c:a aac " + dir.file("a.m4a")));
    writeFile(dir.file("disc.bin"), fullRangePcm(2, 2, 300 * 588, 5));
    std::ofstream(dir.file("disc.cue")) << "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                           "  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n";
    std::unique_ptr<cd::Disc> disc;
    ASSERT_EQ(cd::openDisc({"CD", dir.file("disc.cue")}, &disc), FMOD_OK);

    // Each job opens its own decoder, reads it all, seeks back to a middle frame and reads again.
    const std::vector<std::function<std::unique_ptr<Decoder>()>> jobs = {
        [&] { std::unique_ptr<Decoder> d; openFile(dir.file("a.mp3"), true, {}, &d); return d; },
        [&] { std::unique_ptr<Decoder> d; openFile(dir.file("a.mp3"), false, {}, &d); return d; },
        [&] { std::unique_ptr<Decoder> d; openFile(dir.file("a.flac"), true, {}, &d); return d; },
        [&] { std::unique_ptr<Decoder> d; openFile(dir.file("a.ogg"), true, {}, &d); return d; },
        [&] { std::unique_ptr<Decoder> d; openFile(dir.file("a.m4a"), true, {aacPlugin()}, &d); return d; },
        [&] { std::unique_ptr<Decoder> d; openFile(dir.file("a.m4a"), true, {aacPlugin()}, &d); return d; },
        [&] { return disc->openTrack(0); },
        [&] { return disc->openTrack(1); },
    };
    auto work = [](const std::function<std::unique_ptr<Decoder>()>& open) {
        std::unique_ptr<Decoder> d = open();
        if (!d)
            return Bytes();
        Bytes out = readAll(*d, 777);
        if (d->seek(d->info().lengthFrames / 3)) {
            const Bytes again = readSome(*d, 3000);
            out.insert(out.end(), again.begin(), again.end());
        }
        return out;
    };
    std::vector<Bytes> serial;
    for (const auto& job : jobs)
        serial.push_back(work(job));
    std::vector<Bytes> parallel(jobs.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < jobs.size(); ++i)
        threads.emplace_back([&, i] { parallel[i] = work(jobs[i]); });
    for (auto& t : threads)
        t.join();
    for (size_t i = 0; i < jobs.size(); ++i) {
        EXPECT_FALSE(serial[i].empty()) << "job " << i;
        EXPECT_EQ(firstDifference(parallel[i], serial[i]), "") << "job " << i;
    }
}

}  // namespace
}  // namespace pw::decode::test
