// Parameters change from another thread while the mixer thread processes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fx_signal.hpp"

namespace pw::fx::test {
namespace {

TEST(ThreadedParameterTest, SettingWhileProcessingStaysSafeAndTakesEffect) {
    const int rate = 44100, channels = 2;
    for (FMOD_DSP_TYPE type : kAllTypes) {
        SCOPED_TRACE(::testing::Message() << "type " << type);
        auto fx = createEffect(type, rate, 512);
        ASSERT_TRUE(fx);
        std::atomic<bool> stop{false};
        std::thread setter([&] {
            unsigned k = 0;
            while (!stop.load(std::memory_order_acquire)) {
                for (int i = 0; i < fx->numParameters(); ++i) {
                    const ParamInfo info = fx->parameterInfo(i);
                    fx->setParameter(i, info.min + (info.max - info.min) * float(k % 7) / 6.0f);
                    (void)fx->getParameter(i);
                }
                ++k;
                std::this_thread::yield();
            }
        });
        std::vector<float> buf = noise(512 * channels * 200, 1, 0.5f);
        for (size_t f = 0; f < buf.size(); f += 512 * channels) {
            fx->process(&buf[f], &buf[f], 512, channels);
            for (size_t i = f; i < f + 512 * channels; ++i) ASSERT_TRUE(std::isfinite(buf[i]));
        }
        stop.store(true, std::memory_order_release);
        setter.join();

        // The last values set are the ones the next block uses: a unit set from another thread
        // behaves like a fresh unit given the same values.
        auto twin = createEffect(type, rate, 512);
        for (int i = 0; i < fx->numParameters(); ++i) twin->setParameter(i, fx->getParameter(i));
        fx->reset();
        std::vector<float> a = noise(4096, channels), b = a;
        run(*fx, a, channels, 512);
        run(*twin, b, channels, 512);
        EXPECT_EQ(a, b);
    }
}

}  // namespace
}  // namespace pw::fx::test
