// Decoding speed: openFile (open with an exact length, read to the end) against the library
// alone. The files (5 minutes of stereo music-like noise) are made once at start-up with sox,
// lame, flac and ffmpeg. The "x_realtime" counter is seconds of audio decoded per second.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <mpg123.h>
#include <sndfile.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "decoder.hpp"

namespace {

constexpr double kSeconds = 300.0;

struct Files {
    std::string dir, mp3, flac, m4a;
    Files() {
        char pattern[] = "/tmp/pw-decode-bench-XXXXXX";
        dir = mkdtemp(pattern);
        const std::string wav = dir + "/in.wav";
        mp3 = dir + "/in.mp3";
        flac = dir + "/in.flac";
        m4a = dir + "/in.m4a";
        // 300 s of pink noise with a sine sweep mixed in, in one effects chain: sox's ":" would
        // start a second chain, 300 s more, after the first.
        const std::string cmds[] = {
            "sox -n -r 44100 -c 2 -b 16 " + wav + " synth 300 pinknoise synth 300 sine mix 220-880 vol 0.3",
            "lame --quiet -b 192 " + wav + " " + mp3,
            "flac -s -f " + wav + " -o " + flac,
            "ffmpeg -loglevel error -y -i " + wav + " -c:a aac -b:a 192k " + m4a,
        };
        for (const auto& c : cmds) {
            if (std::system((c + " >/dev/null 2>&1").c_str()) != 0)
                std::fprintf(stderr, "failed: %s\n", c.c_str());
        }
    }
    ~Files() { std::filesystem::remove_all(dir); }
};

const Files& files() {
    static Files f;
    return f;
}

const PWCodecDescription* aacPlugin() {
    static const PWCodecDescription* codec = []() -> const PWCodecDescription* {
        void* lib = dlopen(PW_PLUGIN_DIR "/Trellisco.dylib", RTLD_NOW | RTLD_LOCAL);
        auto entry = lib ? reinterpret_cast<PWCodecPluginDescriptionFn>(dlsym(lib, PW_CODEC_PLUGIN_ENTRY)) : nullptr;
        return entry ? entry() : nullptr;
    }();
    return codec;
}

void report(benchmark::State& state, uint64_t frames) {
    state.counters["x_realtime"] =
        benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetItemsProcessed(static_cast<int64_t>(frames) * state.iterations());
}

void throughOpenFile(benchmark::State& state, const std::string& path) {
    std::vector<const PWCodecDescription*> plugins;
    if (aacPlugin())
        plugins.push_back(aacPlugin());
    std::vector<short> buf(4096 * 2);
    uint64_t frames = 0;
    for (auto _ : state) {
        std::unique_ptr<pw::decode::Decoder> d;
        if (pw::decode::openFile(path, true, plugins, &d) != FMOD_OK) {
            state.SkipWithError("openFile failed");
            return;
        }
        frames = 0;
        long got;
        while ((got = d->read(buf.data(), 4096)) > 0)
            frames += static_cast<uint64_t>(got);
    }
    report(state, frames);
}

void BM_OpenFile_Mp3(benchmark::State& s) { throughOpenFile(s, files().mp3); }
void BM_OpenFile_Flac(benchmark::State& s) { throughOpenFile(s, files().flac); }
void BM_OpenFile_M4a(benchmark::State& s) { throughOpenFile(s, files().m4a); }

void BM_Direct_Mpg123(benchmark::State& state) {
    std::vector<unsigned char> buf(16384);
    uint64_t frames = 0;
    for (auto _ : state) {
        mpg123_handle* h = mpg123_new(nullptr, nullptr);
        mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
        mpg123_open(h, files().mp3.c_str());
        mpg123_scan(h);  // the same exact-length work openFile does
        frames = 0;
        size_t done = 0;
        int rc;
        do {
            rc = mpg123_read(h, buf.data(), buf.size(), &done);
            frames += done / 4;
        } while (rc == MPG123_OK || rc == MPG123_NEW_FORMAT);
        mpg123_close(h);
        mpg123_delete(h);
    }
    report(state, frames);
}

void BM_Direct_SndfileFlac(benchmark::State& state) {
    std::vector<short> buf(4096 * 2);
    uint64_t frames = 0;
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE* f = sf_open(files().flac.c_str(), SFM_READ, &info);
        frames = 0;
        sf_count_t got;
        while ((got = sf_readf_short(f, buf.data(), 4096)) > 0)
            frames += static_cast<uint64_t>(got);
        sf_close(f);
    }
    report(state, frames);
}

void BM_Direct_FfmpegAac(benchmark::State& state) {
    uint64_t frames = 0;
    for (auto _ : state) {
        AVFormatContext* fmt = nullptr;
        avformat_open_input(&fmt, files().m4a.c_str(), nullptr, nullptr);
        avformat_find_stream_info(fmt, nullptr);
        const int si = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        const AVCodec* codec = avcodec_find_decoder(fmt->streams[si]->codecpar->codec_id);
        AVCodecContext* dec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec, fmt->streams[si]->codecpar);
        avcodec_open2(dec, codec, nullptr);
        AVPacket* pkt = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        frames = 0;
        while (av_read_frame(fmt, pkt) >= 0) {
            if (pkt->stream_index == si && avcodec_send_packet(dec, pkt) >= 0) {
                while (avcodec_receive_frame(dec, frame) == 0)
                    frames += static_cast<uint64_t>(frame->nb_samples);
            }
            av_packet_unref(pkt);
        }
        av_frame_free(&frame);
        av_packet_free(&pkt);
        avcodec_free_context(&dec);
        avformat_close_input(&fmt);
    }
    report(state, frames);
}

BENCHMARK(BM_OpenFile_Mp3)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Direct_Mpg123)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenFile_Flac)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Direct_SndfileFlac)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenFile_M4a)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Direct_FfmpegAac)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
