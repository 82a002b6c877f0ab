#include "engine/processor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "engine/dsp/denormals.h"

namespace vantle {
namespace {

std::unique_ptr<Processor> configured(double rate, ProcessorSettings s) {
  auto p = std::make_unique<Processor>();
  p->setSampleRate(rate);
  p->applySettings(s);
  return p;
}

TEST(ProcessorLifecycle, ConstructionDefaults) {
  auto p = std::make_unique<Processor>();
  EXPECT_EQ(p->settings.mode, ProcessingMode::podcast);
  EXPECT_EQ(p->settings.inputGainDb, 3.5);
  EXPECT_EQ(p->settings.adapt, 0.0);
  EXPECT_EQ(p->sampleRate, 48000.0);
  EXPECT_EQ(p->lastAppliedMode, -1);
}

TEST(ProcessorLifecycle, FramesBeforeTheFirstRateAreSilence) {
  auto p = std::make_unique<Processor>();
  const StereoFrame out = p->processFrame(0.5f, -0.5f);
  EXPECT_EQ(out.left, 0.0f);
  EXPECT_EQ(out.right, 0.0f);
}

TEST(ProcessorLifecycle, InvalidRatesFallBackTo48k) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double given;
    double used;
  } cases[] = {{7999, 48000}, {768001, 48000}, {inf, 48000},     {-inf, 48000},
               {nan, 48000},  {8000, 8000},    {768000, 768000}, {44100, 44100}};
  for (const auto& c : cases) {
    auto p = std::make_unique<Processor>();
    p->setSampleRate(c.given);
    EXPECT_EQ(p->sampleRate, c.used) << c.given;
    EXPECT_EQ(p->lastAppliedMode, -1);
  }
}

TEST(ProcessorLifecycle, SettingsAreClamped) {
  const struct {
    double gain, adapt, storedGain, storedAdapt;
  } cases[] = {{-40, -1, -12, 0}, {40, 250, 18, 100}, {6, 30, 6, 30}, {-12, 0, -12, 0}};
  for (const auto& c : cases) {
    auto p = configured(48000, {ProcessingMode::stream, c.gain, c.adapt});
    EXPECT_EQ(p->settings.inputGainDb, c.storedGain);
    EXPECT_EQ(p->settings.adapt, c.storedAdapt);
  }
  // Values that are not numbers pass unchanged; the derivation repairs them.
  auto p = configured(48000, {ProcessingMode::stream, std::nan(""), std::nan("")});
  EXPECT_TRUE(std::isnan(p->settings.inputGainDb));
  EXPECT_TRUE(std::isnan(p->settings.adapt));
  EXPECT_EQ(p->params.d, 0.0);
}

TEST(ProcessorLifecycle, ModeChangeResetsAndRestoresTheDefaultGain) {
  auto p = std::make_unique<Processor>();
  p->setSampleRate(44100);
  p->applySettings({ProcessingMode::stream, 6, 30});
  EXPECT_EQ(p->settings.inputGainDb, 6);
  EXPECT_EQ(p->lastAppliedMode, 1);
  p->applySettings({ProcessingMode::limiter, 6, 30});
  EXPECT_EQ(p->settings.inputGainDb, 0);
  EXPECT_EQ(p->lastAppliedMode, 2);
  p->applySettings({ProcessingMode::limiter, 6, 30});
  EXPECT_EQ(p->settings.inputGainDb, 6);
  // A new rate forgets the mode, so the next change of mode keeps the gain.
  p->setSampleRate(48000);
  p->applySettings({ProcessingMode::podcast, 5, 0});
  EXPECT_EQ(p->settings.inputGainDb, 5);
}

// A change of mode resets with the parameters still in force and derives
// afterwards; a new rate derives first and resets second. The gliding output
// gain, seeded by the reset from its target, shows which came first: podcast
// sits 1.5 dB and limiter (adapt 0) 2 dB below the ceiling at rest.
TEST(ProcessorLifecycle, ModeChangeResetsBeforeItDerivesNewRateAfter) {
  const double podcastTarget = std::pow(10.0, 1.5 / 20.0);
  const double limiterTarget = std::pow(10.0, 2.0 / 20.0);
  auto p = configured(48000, Processor::defaultSettings(ProcessingMode::podcast));
  ASSERT_NEAR(p->loadTargets.outputGainTarget, podcastTarget, 1e-12);
  p->applySettings({ProcessingMode::limiter, 0, 0});
  EXPECT_NEAR(p->loadTargets.outputGainTarget, limiterTarget, 1e-12);
  EXPECT_NEAR(p->state.output.out.outputGain, podcastTarget, 1e-12);

  // Loud stream programme loads the final stages and lowers the target; a new
  // rate re-seeds the target from that load before the reset clears it.
  auto s = configured(48000, {ProcessingMode::stream, 18, 100});
  std::vector<float> buf(2 * 24000);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = 0.9f * std::sin(0.03f * static_cast<float>(i));
  s->processBuffer(buf.data(), 24000, 2);
  ASSERT_GT(s->state.load.loadDb, 0.0);
  s->setSampleRate(44100);
  EXPECT_EQ(s->state.load.loadDb, 0.0);
  EXPECT_EQ(s->state.output.out.outputGain, s->loadTargets.outputGainTarget);
  EXPECT_LT(s->state.output.out.outputGain,
            outputGainTargetFor(0.0, outputLevelOffsetDb(ProcessingMode::stream, 1.0)));
}

TEST(ProcessorLifecycle, DefaultSettingsPerMode) {
  EXPECT_EQ(Processor::defaultSettings(ProcessingMode::podcast).inputGainDb, 3.5);
  EXPECT_EQ(Processor::defaultSettings(ProcessingMode::stream).inputGainDb, 0.0);
  EXPECT_EQ(Processor::defaultSettings(ProcessingMode::limiter).inputGainDb, 0.0);
  EXPECT_EQ(Processor::defaultSettings(ProcessingMode::stream).adapt, 0.0);
  EXPECT_EQ(Processor::defaultSettings(ProcessingMode::limiter).mode, ProcessingMode::limiter);
}

// processBuffer must write exactly what processFrame gives, in the right slots,
// whatever the channel count.
TEST(ProcessBuffer, ChannelLayouts) {
  for (int channels : {1, 2, 4}) {
    auto a = configured(48000, {ProcessingMode::stream, 0, 60});
    auto b = configured(48000, {ProcessingMode::stream, 0, 60});
    const int frames = 300;
    std::vector<float> buf(static_cast<size_t>(frames * channels));
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = 0.6f * std::sin(0.05f * static_cast<float>(i));
    std::vector<float> in = buf;
    a->processBuffer(buf.data(), frames, channels);
    for (int f = 0; f < frames; ++f) {
      const float* src = &in[static_cast<size_t>(f * channels)];
      const float* dst = &buf[static_cast<size_t>(f * channels)];
      const StereoFrame e = b->processFrame(src[0], channels >= 2 ? src[1] : src[0]);
      ASSERT_EQ(dst[0], e.left) << channels << " " << f;
      if (channels >= 2) {
        ASSERT_EQ(dst[1], e.right);
      }
      for (int c = 2; c < channels; ++c) ASSERT_EQ(dst[c], 0.0f);
    }
  }
}

TEST(ProcessBuffer, NothingToDo) {
  auto p = configured(48000, Processor::defaultSettings(ProcessingMode::podcast));
  std::vector<float> buf = {0.25f, -0.25f};
  p->processBuffer(buf.data(), 0, 2);
  p->processBuffer(buf.data(), 1, 0);
  p->processBuffer(nullptr, 1, 2);
  EXPECT_EQ(buf[0], 0.25f);
  EXPECT_EQ(buf[1], -0.25f);
}

// Subnormals are flushed only while the chain runs: the caller's floating-point
// environment comes back unchanged, and a subnormal input reads as silence.
TEST(ProcessBuffer, SubnormalsFlushedOnlyInsideTheChain) {
#ifdef VANTLE_HAVE_MXCSR
  const unsigned before = _mm_getcsr();
  auto p = configured(48000, {ProcessingMode::limiter, 0, 0});
  std::vector<float> buf(64, 1e-40f);
  p->processBuffer(buf.data(), 32, 2);
  p->processFrame(1e-40f, -1e-40f);
  EXPECT_EQ(_mm_getcsr(), before);
  const volatile double tiny = 1e-310;
  EXPECT_GT(tiny * 0.5, 0.0);  // still gradual underflow out here
#else
  GTEST_SKIP() << "no MXCSR on this processor";
#endif
}

// The reported latency is where the output first answers an impulse: the
// chain's filters answer at once, so only the look-ahead and delay lines
// stand between an input frame and its output. The impulse comes after the
// look-ahead limiter's priming window, which would otherwise copy it ahead.
TEST(ProcessorLatency, OutputFirstAnswersAnImpulseAfterTheReportedFrames) {
  for (ProcessingMode mode :
       {ProcessingMode::podcast, ProcessingMode::stream, ProcessingMode::limiter}) {
    for (double adapt : {0.0, 60.0, 100.0}) {
      for (double rate : {8000.0, 44100.0, 48000.0, 192000.0, 768000.0}) {
        ProcessorSettings s = Processor::defaultSettings(mode);
        s.adapt = adapt;
        auto p = configured(rate, s);
        const int latency = p->latencyFrames();
        const auto at = static_cast<std::int64_t>(0.4 * rate);
        std::vector<float> buf(static_cast<size_t>(at + latency + 8) * 2, 0.0f);
        buf[static_cast<size_t>(at) * 2] = 0.25f;
        buf[static_cast<size_t>(at) * 2 + 1] = -0.25f;
        p->processBuffer(buf.data(), at + latency + 8, 2);
        std::int64_t first = -1;
        for (size_t i = 0; i < buf.size() && first < 0; ++i) {
          if (buf[i] != 0.0f) first = static_cast<std::int64_t>(i / 2);
        }
        EXPECT_EQ(first - at, latency)
            << static_cast<int>(mode) << " adapt " << adapt << " at " << rate;
      }
    }
  }
}

}  // namespace
}  // namespace vantle
