// The C interface: what every call answers to bad arguments, that a failed
// call changes nothing, and that the library computes what the program's
// engine computes for the same settings, whatever the buffer sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/processor.h"
#include "library/vantle-tonbrel.h"
#include "vantle_version.h"

namespace {

using Handle = std::unique_ptr<vantle_tonbrel, decltype(&vantle_tonbrel_destroy)>;

Handle make(double rate) { return Handle(vantle_tonbrel_create(rate), &vantle_tonbrel_destroy); }

// Loud, dense stereo material with overs, so every stage has work to do.
std::vector<float> programme(int frames, int channels, std::uint32_t seed) {
  std::vector<float> out(static_cast<size_t>(frames) * static_cast<size_t>(channels));
  for (int f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
      const double tone = std::sin(0.031 * f * (c + 1)) + 0.5 * std::sin(0.0023 * f);
      out[static_cast<size_t>(f * channels + c)] = static_cast<float>(0.8 * tone + 0.3 * noise);
    }
  }
  return out;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(LibraryArguments, CreateTakesOnlyTheEngineRates) {
  for (double rate : {kNaN, kInf, -kInf, 0.0, -48000.0, 7999.9, 768000.1}) {
    EXPECT_EQ(vantle_tonbrel_create(rate), nullptr) << rate;
  }
  for (double rate : {8000.0, 44100.0, 768000.0}) {
    Handle h = make(rate);
    EXPECT_NE(h, nullptr) << rate;
  }
  vantle_tonbrel_destroy(nullptr);
}

TEST(LibraryArguments, EveryCallAnswersBadArgumentsWithAStatus) {
  Handle h = make(48000.0);
  float frame[4] = {0.5f, -0.5f, 0.25f, -0.25f};
  struct Case {
    const char* what;
    int status;
    int expected;
  };
  const Case cases[] = {
      {"apply, no handle", vantle_tonbrel_apply(nullptr, 0, 0.0, 0.0), VANTLE_TONBREL_ERROR_NULL},
      {"apply, mode -1", vantle_tonbrel_apply(h.get(), -1, 0.0, 0.0),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"apply, mode 3", vantle_tonbrel_apply(h.get(), 3, 0.0, 0.0), VANTLE_TONBREL_ERROR_ARGUMENT},
      {"apply, adapt NaN", vantle_tonbrel_apply(h.get(), 1, kNaN, 0.0),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"apply, adapt -1", vantle_tonbrel_apply(h.get(), 1, -1.0, 0.0),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"apply, adapt 101", vantle_tonbrel_apply(h.get(), 1, 101.0, 0.0),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"apply, gain NaN", vantle_tonbrel_apply(h.get(), 1, 0.0, kNaN),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"apply, gain inf", vantle_tonbrel_apply(h.get(), 1, 0.0, kInf),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"apply, gain 18.5", vantle_tonbrel_apply(h.get(), 1, 0.0, 18.5),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"apply, gain -12.5", vantle_tonbrel_apply(h.get(), 1, 0.0, -12.5),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"process, no handle", vantle_tonbrel_process(nullptr, frame, 1, 2),
       VANTLE_TONBREL_ERROR_NULL},
      {"process, no buffer", vantle_tonbrel_process(h.get(), nullptr, 1, 2),
       VANTLE_TONBREL_ERROR_NULL},
      {"process, 0 channels", vantle_tonbrel_process(h.get(), frame, 1, 0),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"process, 3 channels", vantle_tonbrel_process(h.get(), frame, 1, 3),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"process, -2 channels", vantle_tonbrel_process(h.get(), frame, 1, -2),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"process, no buffer can hold it",
       vantle_tonbrel_process(h.get(), frame, std::numeric_limits<size_t>::max(), 1),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"process, half the address space of stereo",
       vantle_tonbrel_process(h.get(), frame, std::numeric_limits<size_t>::max() / 8, 2),
       VANTLE_TONBREL_ERROR_ARGUMENT},
      {"process, 0 frames, no buffer", vantle_tonbrel_process(h.get(), nullptr, 0, 2),
       VANTLE_TONBREL_OK},
      {"reset, no handle", vantle_tonbrel_reset(nullptr), VANTLE_TONBREL_ERROR_NULL},
      {"latency, no handle", vantle_tonbrel_latency(nullptr), -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.status, c.expected) << c.what;
    EXPECT_STRNE(vantle_tonbrel_status_text(c.status), "") << c.what;
  }
  // Nothing above touched the buffer.
  EXPECT_EQ(frame[0], 0.5f);
  EXPECT_EQ(frame[3], -0.25f);
  EXPECT_TRUE(std::isnan(vantle_tonbrel_default_input_db(3)));
  EXPECT_TRUE(std::isnan(vantle_tonbrel_default_input_db(-1)));
  EXPECT_EQ(vantle_tonbrel_default_input_db(VANTLE_TONBREL_PODCAST), 3.5);
  EXPECT_EQ(vantle_tonbrel_default_input_db(VANTLE_TONBREL_LIMITER), 0.0);
  EXPECT_STREQ(vantle_tonbrel_version(), VANTLE_VERSION);
  EXPECT_STREQ(vantle_tonbrel_status_text(42), "unknown status");
}

// A refused apply leaves the voicing as it was: the sound continues exactly
// as on a handle that never saw the call.
TEST(LibraryArguments, AFailedApplyChangesNothing) {
  Handle a = make(48000.0);
  Handle b = make(48000.0);
  ASSERT_EQ(vantle_tonbrel_apply(a.get(), VANTLE_TONBREL_STREAM, 70.0, 2.0), VANTLE_TONBREL_OK);
  ASSERT_EQ(vantle_tonbrel_apply(b.get(), VANTLE_TONBREL_STREAM, 70.0, 2.0), VANTLE_TONBREL_OK);
  std::vector<float> x = programme(3000, 2, 7);
  std::vector<float> y = x;
  ASSERT_EQ(vantle_tonbrel_process(a.get(), x.data(), 1500, 2), VANTLE_TONBREL_OK);
  ASSERT_EQ(vantle_tonbrel_process(b.get(), y.data(), 1500, 2), VANTLE_TONBREL_OK);
  EXPECT_EQ(vantle_tonbrel_apply(a.get(), VANTLE_TONBREL_LIMITER, kNaN, 2.0),
            VANTLE_TONBREL_ERROR_ARGUMENT);
  EXPECT_EQ(vantle_tonbrel_apply(a.get(), VANTLE_TONBREL_PODCAST, 10.0, 40.0),
            VANTLE_TONBREL_ERROR_ARGUMENT);
  ASSERT_EQ(vantle_tonbrel_process(a.get(), x.data() + 3000, 1500, 2), VANTLE_TONBREL_OK);
  ASSERT_EQ(vantle_tonbrel_process(b.get(), y.data() + 3000, 1500, 2), VANTLE_TONBREL_OK);
  EXPECT_EQ(std::memcmp(x.data(), y.data(), x.size() * sizeof(float)), 0);
}

// What the program does: set the rate, apply the settings once, then buffers.
std::vector<float> engineOutput(const std::vector<float>& in, int channels, double rate,
                                vantle::ProcessorSettings s, bool applied) {
  auto p = std::make_unique<vantle::Processor>();
  p->setSampleRate(rate);
  p->applySettings(applied ? s
                           : vantle::Processor::defaultSettings(vantle::ProcessingMode::podcast));
  std::vector<float> out = in;
  p->processBuffer(out.data(), static_cast<std::int64_t>(out.size()) / channels, channels);
  return out;
}

TEST(LibraryOutput, SameSamplesAsTheProgramForAnyBufferSizes) {
  struct Case {
    int mode;
    double adapt;
    double inputDb;
    int channels;
    double rate;
    bool applied;  // false: the handle is never given settings
  };
  const Case cases[] = {
      {VANTLE_TONBREL_PODCAST, 0.0, 3.5, 2, 48000.0, false},
      {VANTLE_TONBREL_STREAM, 55.0, 0.0, 2, 44100.0, true},
      {VANTLE_TONBREL_STREAM, 100.0, 9.0, 1, 48000.0, true},
      {VANTLE_TONBREL_LIMITER, 100.0, -6.0, 2, 96000.0, true},
      {VANTLE_TONBREL_PODCAST, 30.0, 12.0, 1, 22050.0, true},
  };
  const size_t sizes[] = {1, 7, 64, 1000, 4096, 333};
  for (const Case& c : cases) {
    const int frames = 20000;
    const std::vector<float> in = programme(frames, c.channels, 11);
    const std::vector<float> expected = engineOutput(
        in, c.channels, c.rate,
        vantle::ProcessorSettings{static_cast<vantle::ProcessingMode>(c.mode), c.inputDb, c.adapt},
        c.applied);
    Handle h = make(c.rate);
    if (c.applied) {
      ASSERT_EQ(vantle_tonbrel_apply(h.get(), c.mode, c.adapt, c.inputDb), VANTLE_TONBREL_OK);
    }
    std::vector<float> out = in;
    size_t done = 0;
    for (size_t k = 0; done < static_cast<size_t>(frames); ++k) {
      const size_t n = std::min(sizes[k % 6], static_cast<size_t>(frames) - done);
      ASSERT_EQ(vantle_tonbrel_process(h.get(), out.data() + done * c.channels, n, c.channels),
                VANTLE_TONBREL_OK);
      done += n;
    }
    EXPECT_EQ(std::memcmp(out.data(), expected.data(), out.size() * sizeof(float)), 0)
        << "mode " << c.mode << " adapt " << c.adapt << " channels " << c.channels;
    for (float v : out) ASSERT_LT(std::fabs(v), 0.98855f);
  }
}

// A change of mode rests the chain as the engine does, and then takes the gain
// given with the mode, not the mode's own; a reset keeps the voicing.
TEST(LibraryOutput, ModeChangeTakesTheGivenGainAndResetKeepsTheVoicing) {
  const std::vector<float> history = programme(9000, 2, 3);
  const std::vector<float> next = programme(6000, 2, 5);
  for (bool modeChange : {true, false}) {
    Handle h = make(48000.0);
    auto p = std::make_unique<vantle::Processor>();
    p->setSampleRate(48000.0);
    ASSERT_EQ(vantle_tonbrel_apply(h.get(), VANTLE_TONBREL_PODCAST, 40.0, 6.0), VANTLE_TONBREL_OK);
    p->applySettings({vantle::ProcessingMode::podcast, 6.0, 40.0});
    std::vector<float> a = history;
    std::vector<float> b = history;
    vantle_tonbrel_process(h.get(), a.data(), 9000, 2);
    p->processBuffer(b.data(), 9000, 2);
    if (modeChange) {
      ASSERT_EQ(vantle_tonbrel_apply(h.get(), VANTLE_TONBREL_STREAM, 80.0, 5.0), VANTLE_TONBREL_OK);
      p->applySettings({vantle::ProcessingMode::stream, 0.0, 80.0});
      EXPECT_EQ(p->settings.inputGainDb, 0.0);  // the engine's own choice on a new mode
      p->applySettings({vantle::ProcessingMode::stream, 5.0, 80.0});
    } else {
      ASSERT_EQ(vantle_tonbrel_reset(h.get()), VANTLE_TONBREL_OK);
      p->reset();
    }
    a = next;
    b = next;
    vantle_tonbrel_process(h.get(), a.data(), 6000, 2);
    p->processBuffer(b.data(), 6000, 2);
    EXPECT_EQ(a, b) << (modeChange ? "mode change" : "reset");
  }
}

TEST(LibraryOutput, LatencyFollowsTheVoicing) {
  Handle h = make(48000.0);
  const int podcast = vantle_tonbrel_latency(h.get());
  vantle_tonbrel_apply(h.get(), VANTLE_TONBREL_LIMITER, 100.0, 0.0);
  const int limiter = vantle_tonbrel_latency(h.get());
  auto p = std::make_unique<vantle::Processor>();
  p->setSampleRate(48000.0);
  EXPECT_EQ(podcast, p->latencyFrames());
  p->applySettings({vantle::ProcessingMode::limiter, 0.0, 100.0});
  EXPECT_EQ(limiter, p->latencyFrames());
  EXPECT_GT(limiter, podcast + 480 - 1);  // the limiter's own 10 ms look-ahead
}

}  // namespace
