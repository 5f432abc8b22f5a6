// Tap-to-sound through the Java interface, per buffer setting (256, 512, 1024 frames), on a private
// PulseAudio daemon's null sink: how long after the Java call a deck's Play and a sampler's
// PlaySample are heard, how long a pause takes to silence, and how far GetPosition leads the
// heard sound; a play split into call to mixer block, the layer's hand-over and the server.
//
// bench.TapLatency runs in a JVM on the real engine library and prints when it made each call and
// when the mixer computed the block that made it audible or silent (a probe unit at the end of
// the mix). This process records the sink's monitor and places every recorded frame on the same
// steady clock from the server's own timing reports of the recording; polling the server for what
// it holds of the engine's stream tells when the layer wrote each block to it. A reference stream, a plain playback stream whose own
// timing reports say when its clicks play, checks that chain first: its clicks must be heard in
// the recording when its reports say (within 2 ms).
//
// Usage: tap_latency_bench [trials per kind, default 15]
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pulse_backend.hpp"
#include "pulse_connection.hpp"
#include "pulse_server.hpp"
#include "pulse_stream.hpp"
#include "scoped_env.hpp"
#include "temp_dir.hpp"

namespace {

using pw::dev::PulseConnection;
constexpr int kRate = 44100;
constexpr float kSilence = 1e-4f;  // as the probe counts it

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

// Records a source, and places its frames on the steady clock: at each delivery the server's
// interpolated timing says which frame of the recording is being recorded now.
class TimedCapture {
public:
    TimedCapture(std::shared_ptr<PulseConnection> c, const std::string& source) : c_(std::move(c)) {
        PulseConnection::Lock lock(*c_);
        const pa_sample_spec spec = pw::dev::pulseFloatSpec(2, kRate);
        const pa_channel_map map = pw::dev::pulseChannelMap(2);
        stream_ = pa_stream_new(c_->context(), "tap bench monitor", &spec, &map);
        pa_stream_set_read_callback(stream_, onRead, this);
        pa_buffer_attr attr = pw::dev::serverChosenAttr();
        attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(5000, &spec));
        const auto flags = static_cast<pa_stream_flags_t>(pw::dev::kUnmixedStreamFlags | PA_STREAM_INTERPOLATE_TIMING |
                                                          PA_STREAM_AUTO_TIMING_UPDATE);
        ok_ = pa_stream_connect_record(stream_, source.c_str(), &attr, flags) == 0 &&
              pw::dev::awaitPulseStream(*c_, stream_, "source", source);
    }
    ~TimedCapture() {
        PulseConnection::Lock lock(*c_);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    bool ok() const { return ok_; }
    // The samples so far (interleaved stereo), and when frame 0 was recorded (median of the
    // deliveries' estimates).
    std::vector<float> samples() {
        PulseConnection::Lock lock(*c_);
        return samples_;
    }
    double frameZeroNs() {
        PulseConnection::Lock lock(*c_);
        return median(zeroNs_);
    }

private:
    static void onRead(pa_stream* s, size_t, void* userdata) {
        auto* self = static_cast<TimedCapture*>(userdata);
        const void* data = nullptr;
        size_t bytes = 0;
        while (pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
            const size_t n = bytes / sizeof(float), at = self->samples_.size();
            self->samples_.resize(at + n, 0.0f);  // a hole stays silent
            if (data) std::memcpy(self->samples_.data() + at, data, bytes);
            pa_stream_drop(s);
        }
        pa_usec_t t = 0;
        if (pa_stream_get_time(s, &t) == 0 && t > 0) self->zeroNs_.push_back(static_cast<double>(nowNs()) - 1e3 * t);
    }
    std::shared_ptr<PulseConnection> c_;
    pa_stream* stream_ = nullptr;
    bool ok_ = false;
    std::vector<float> samples_;  // under the main-loop lock
    std::vector<double> zeroNs_;  // under the main-loop lock
};

// A plain playback stream writing silence with a click every 300 ms; its own timing reports say
// when each click plays (the stream time being played now, against where the click was written).
std::vector<double> playReference(std::shared_ptr<PulseConnection> c, const std::string& sink, unsigned block,
                                  int clicks) {
    std::vector<double> heardNs;
    PulseConnection::Lock lock(*c);
    const pa_sample_spec spec = pw::dev::pulseFloatSpec(2, kRate);
    pa_stream* s = pw::dev::newPulseStream(*c, "tap bench reference", spec);
    pa_buffer_attr attr = pw::dev::serverChosenAttr();
    attr.tlength = static_cast<uint32_t>(3 * block * pa_frame_size(&spec));
    attr.minreq = static_cast<uint32_t>(block / 2 * pa_frame_size(&spec));
    const auto flags = static_cast<pa_stream_flags_t>(pw::dev::kUnmixedStreamFlags | PA_STREAM_INTERPOLATE_TIMING |
                                                      PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_playback(s, sink.c_str(), &attr, flags, nullptr, nullptr) < 0 ||
        !pw::dev::awaitPulseStream(*c, s, "sink", sink))
        return heardNs;
    uint64_t written = 0;  // frames
    std::vector<uint64_t> clickAt;
    std::vector<float> buffer;
    const uint64_t every = kRate * 3 / 10, first = kRate / 2;
    while (clickAt.size() < static_cast<size_t>(clicks) || written < clickAt.back() + kRate / 2) {
        const size_t frames = pa_stream_writable_size(s) / pa_frame_size(&spec);
        if (frames > 0) {
            buffer.assign(2 * frames, 0.0f);
            for (uint64_t f = written; f < written + frames; ++f)
                if (f >= first && (f - first) % every == 0 && clickAt.size() < static_cast<size_t>(clicks)) {
                    buffer[2 * (f - written)] = buffer[2 * (f - written) + 1] = 0.8f;
                    clickAt.push_back(f);
                }
            pa_stream_write(s, buffer.data(), buffer.size() * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
            written += frames;
        }
        // Each click's time from the stream's reports (where play stands now), asked again until
        // shortly before it plays: the last answer counts.
        pa_usec_t t = 0;
        heardNs.resize(clickAt.size(), INFINITY);
        for (size_t i = 0; i < clickAt.size(); ++i)
            if (static_cast<double>(nowNs()) < heardNs[i] - 5e6 && pa_stream_get_time(s, &t) == 0)
                heardNs[i] = static_cast<double>(nowNs()) + 1e9 * static_cast<double>(clickAt[i]) / kRate - 1e3 * t;
        pa_threaded_mainloop_unlock(c->loop());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        pa_threaded_mainloop_lock(c->loop());
    }
    pa_stream_disconnect(s);
    pa_stream_unref(s);
    return heardNs;
}

// What the server holds of the engine's stream (its queue and the sink's latency), polled.
struct ServerShare {
    int64_t atNs;
    double queueMs, sinkMs;
};

void pollServer(std::shared_ptr<PulseConnection> c, std::atomic<bool>& stop, std::vector<ServerShare>& out) {
    while (!stop.load()) {
        PulseConnection::Lock lock(*c);
        struct Ctx {
            PulseConnection* c;
            std::vector<ServerShare>* out;
        } ctx{c.get(), &out};
        auto onInput = [](pa_context*, const pa_sink_input_info* i, int eol, void* userdata) {
            auto* x = static_cast<Ctx*>(userdata);
            if (eol) return x->c->signal();
            if (i->name && std::strcmp(i->name, "Pellwarden output") == 0)
                x->out->push_back({nowNs(), i->buffer_usec / 1e3, i->sink_usec / 1e3});
        };
        c->finish(pa_context_get_sink_input_info_list(c->context(), onInput, &ctx));
        pa_threaded_mainloop_unlock(c->loop());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        pa_threaded_mainloop_lock(c->loop());
    }
}

// When the layer wrote the data that plays up to `heardNs` to the server. Between two writes,
// a poll's time plus what the server holds then is when the last frame written plays: so the
// write lies between the last poll that places it earlier and the first that does not.
double writtenAt(const std::vector<ServerShare>& polls, double afterNs, double heardNs) {
    const ServerShare* before = nullptr;
    for (const ServerShare& s : polls) {
        if (s.atNs < afterNs) {
            before = &s;
            continue;
        }
        if (s.atNs + 1e6 * (s.queueMs + s.sinkMs) >= heardNs - 2e5)
            return before ? std::max(afterNs, 0.5 * static_cast<double>(before->atNs + s.atNs))
                          : static_cast<double>(s.atNs);
        before = &s;
    }
    return NAN;
}

// The recording, with each frame's time on the steady clock.
struct Heard {
    std::vector<float> x;
    double zeroNs;
    size_t frames() const { return x.size() / 2; }
    double at(size_t f) const { return zeroNs + 1e9 * static_cast<double>(f) / kRate; }
    size_t frameAt(double ns) const {
        return ns <= zeroNs ? 0 : std::min(frames(), static_cast<size_t>((ns - zeroNs) * kRate / 1e9));
    }
    float level(size_t f) const { return std::max(std::fabs(x[2 * f]), std::fabs(x[2 * f + 1])); }
    // The first frame from `ns` on whose level passes `threshold`.
    std::optional<size_t> firstAbove(double ns, float threshold) const {
        for (size_t f = frameAt(ns); f < frames(); ++f)
            if (level(f) > threshold) return f;
        return std::nullopt;
    }
    // The first frame from `ns` on that starts 50 ms of silence.
    std::optional<size_t> silenceFrom(double ns) const {
        size_t run = 0;
        for (size_t f = frameAt(ns); f < frames(); ++f)
            if ((run = level(f) > kSilence ? 0 : run + 1) == kRate / 20) return f + 1 - run;
        return std::nullopt;
    }
};

// Medians of one kind of call: to the sink, to the mixer's block, the hand-over and the server.
struct Legs {
    double total = NAN, toMixer = NAN, handover = NAN, server = NAN;
    size_t heard = 0;
};

struct Row {
    unsigned block = 0;
    double refErr = NAN, refMax = NAN;
    Legs play, sample, pause;
    double lead = NAN, leadMin = NAN, leadMax = NAN;
};

Row measure(int ms, unsigned block, int trials) {
    Row row;
    row.block = block;
    pw::test::ScopedEnv noTable("PELLWARDEN_DEVICE_TABLE", std::nullopt);
    pw::test::PulseServer server({{"card1", "Card1", 2, kRate}, {"card2", "Card2", 2, kRate}});
    if (!server.ready()) {
        std::fprintf(stderr, "no sound server: %s\n", server.error().c_str());
        std::exit(1);
    }
    auto c = PulseConnection::open("tap bench");
    TimedCapture capture(c, "card1.monitor");
    if (!c || !capture.ok()) {
        std::fprintf(stderr, "cannot record card1.monitor\n");
        std::exit(1);
    }

    // The chain first: the reference's clicks where its reports place them.
    const std::vector<double> reference = playReference(c, "card1", block, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    {
        Heard h{capture.samples(), capture.frameZeroNs()};
        std::vector<double> err;
        for (double predicted : reference)
            if (auto f = h.firstAbove(predicted - 50e6, 0.5f)) err.push_back((h.at(*f) - predicted) / 1e6);
        row.refErr = median(err);
        row.refMax = 0;
        for (double e : err) row.refMax = std::max(row.refMax, std::fabs(e));
        if (err.size() != reference.size()) row.refMax = INFINITY;
    }

    // The engine, in a JVM.
    pw::test::TempDir dir("pw-tap-");
    std::atomic<bool> stop{false};
    std::vector<ServerShare> polls;
    std::thread poller(pollServer, c, std::ref(stop), std::ref(polls));
    const std::string command = std::string(PW_JAVA) + " -Djava.library.path=" + PW_JAVA_LIBRARY_PATH + " -cp " +
                                PW_JAVA_CLASSPATH + " bench.TapLatency ms=" + std::to_string(ms) +
                                " dir=" + dir.path() + " trials=" + std::to_string(trials);
    FILE* java = popen(command.c_str(), "r");
    struct Call {
        std::string kind;
        double callNs, blockNs, offset;
    };
    std::vector<Call> calls;
    std::vector<std::pair<double, double>> positions;  // (ns, ms)
    char line[256];
    while (java && std::fgets(line, sizeof line, java)) {
        char kind[16];
        double a = 0, b = 0, o = 0;
        if (std::sscanf(line, "pos %lf %lf", &a, &b) == 2) positions.push_back({a, b});
        else if (std::sscanf(line, "%15s %lf %lf %lf", kind, &a, &b, &o) == 4) calls.push_back({kind, a, b, o});
        else if (line[0] == '#') std::printf("  java: %s", line + 1);
    }
    const int status = java ? pclose(java) : -1;
    stop = true;
    poller.join();
    if (status != 0) {
        std::fprintf(stderr, "the Java side failed (%d)\n", status);
        std::exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Heard h{capture.samples(), capture.frameZeroNs()};

    // Each call against the recording: the first sound after it, or the start of the silence.
    // The mixer's block was heard from its first frame on (the onset's offset into it before).
    auto legs = [&](const std::string& kind) {
        std::vector<double> total, toMixer, handover, serverMs;
        for (const Call& k : calls) {
            if (k.kind != kind) continue;
            const auto f = kind == "pause" ? h.silenceFrom(k.callNs) : h.firstAbove(k.callNs, kSilence);
            if (!f) continue;
            total.push_back((h.at(*f) - k.callNs) / 1e6);
            if (k.blockNs <= 0) continue;
            const double blockHeard = h.at(*f) - 1e9 * k.offset / kRate;
            const double written = writtenAt(polls, k.blockNs, blockHeard + 1e9 * block / kRate);
            toMixer.push_back((k.blockNs - k.callNs) / 1e6);
            handover.push_back((written - k.blockNs) / 1e6);
            serverMs.push_back((blockHeard - written) / 1e6);
        }
        return Legs{median(total), median(toMixer), median(handover), median(serverMs), total.size()};
    };
    row.play = legs("play");
    row.sample = legs("sample");
    row.pause = legs("pause");

    // GetPosition against the clicks heard (every 500 ms of the track): the position reported
    // nearest the moment a click was heard, less the click's place (the 500 ms step below it).
    if (positions.size() > 10) {
        std::vector<double> leads;
        float loudest = 0;
        for (size_t f = h.frameAt(positions.front().first); f < h.frameAt(positions.back().first); ++f)
            loudest = std::max(loudest, h.level(f));
        for (double from = positions.front().first; from < positions.back().first;) {
            auto f = h.firstAbove(from, 0.5f * loudest);
            if (!f || h.at(*f) > positions.back().first) break;
            const auto near = std::min_element(positions.begin(), positions.end(), [&](auto& a, auto& b) {
                return std::fabs(a.first - h.at(*f)) < std::fabs(b.first - h.at(*f));
            });
            leads.push_back(near->second - 500.0 * std::floor(near->second / 500.0));
            from = h.at(*f) + 100e6;
        }
        row.lead = median(leads);
        row.leadMin = leads.empty() ? NAN : *std::min_element(leads.begin(), leads.end());
        row.leadMax = leads.empty() ? NAN : *std::max_element(leads.begin(), leads.end());
    }
    std::printf("%5u frames: %zu plays, %zu samples, %zu pauses heard; %zu positions\n", block, row.play.heard,
                row.sample.heard, row.pause.heard, positions.size());
    std::fflush(stdout);
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    const int trials = argc > 1 ? std::atoi(argv[1]) : 15;
    if (!pw::test::PulseServer::binaryAvailable()) {
        std::fprintf(stderr, "pulseaudio not installed\n");
        return 1;
    }
    struct Setting {
        int ms;
        unsigned block;
    };
    std::vector<Row> rows;
    for (Setting s : {Setting{3, 256}, Setting{10, 512}, Setting{20, 1024}}) rows.push_back(measure(s.ms, s.block, trials));

    // The bounds: at 1024 frames a deck's play within 120 ms and a sample's within 116 ms, at 256
    // frames a play within 35 ms; pause to silence at most two blocks more than play to sound;
    // GetPosition ahead of the sound by the server's share plus at most one block.
    auto verdict = [](double value, double bound) { return std::isnan(bound) ? "" : value <= bound ? "ok" : "OVER"; };
    std::printf("\nMedians in ms from the Java call; each split into: call to the mixer's block, the layer's\n"
                "hand-over (mixed to written to the server, to within the server polls' 2-3 ms), the server.\n");
    std::printf("%6s %-7s %7s %8s %9s %7s %8s\n", "block", "call", "heard", "->mixer", "hand-over", "server", "bound");
    for (const Row& r : rows) {
        const double blockMs = 1000.0 * r.block / kRate;
        const double playBound = r.block == 1024 ? 120.0 : r.block == 256 ? 35.0 : NAN;
        const double sampleBound = r.block == 1024 ? 116.0 : r.block == 256 ? 35.0 : NAN;
        const std::pair<const char*, std::pair<const Legs*, double>> kinds[] = {
            {"play", {&r.play, playBound}},
            {"sample", {&r.sample, sampleBound}},
            {"pause", {&r.pause, r.play.total + 2 * blockMs}}};
        for (const auto& [name, k] : kinds) {
            char bound[16] = "     -";
            if (!std::isnan(k.second)) std::snprintf(bound, sizeof bound, "%6.1f", k.second);
            std::printf("%6u %-7s %7.1f %8.1f %9.1f %7.1f %s %s\n", r.block, name, k.first->total, k.first->toMixer,
                        k.first->handover, k.first->server, bound, verdict(k.first->total, k.second));
        }
    }
    std::printf("\n%6s %20s %30s %12s\n", "block", "chain check: median", "GetPosition lead: median",
                "bound");
    for (const Row& r : rows) {
        const double bound = r.play.server + 1000.0 * r.block / kRate;
        std::printf("%6u %12.2f (%4.2f) %13.1f (%5.1f..%5.1f) %8.1f %s\n", r.block, r.refErr, r.refMax, r.lead,
                    r.leadMin, r.leadMax, bound, verdict(r.lead, bound));
    }
    std::printf("chain check: the reference stream's clicks heard against its own reports (largest error).\n"
                "GetPosition lead: the position reported when a click was heard, less the click's place\n"
                "(range); bound: the server's leg of a play, plus one block.\n");
    return 0;
}
