// The plugin as a host drives it, through lilv (the library hosts such as
// jalv and Carla load plugins with): the latency port read back, controls
// moved between runs of any length, and a host that deactivates and
// reactivates. The bundle is found through LV2_PATH.
#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "library/vantle-tonbrel.h"

namespace {

const std::string kUri = "https://vantle.example.com/plugins/tonbrel";
constexpr float kCeiling = 0.98855309f;  // -0.1 dBFS

struct World {
  LilvWorld* world = lilv_world_new();
  World() { lilv_world_load_all(world); }
  ~World() { lilv_world_free(world); }
  const LilvPlugin* plugin(const std::string& uri) const {
    LilvNode* node = lilv_new_uri(world, uri.c_str());
    const LilvPlugin* p = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
    lilv_node_free(node);
    return p;
  }
};

// One instance with its ports connected to buffers of up to 4096 frames.
struct Host {
  LilvInstance* instance = nullptr;
  int channels;
  std::vector<float> in[2], out[2];
  float mode = 0.0f, adapt = 0.0f, inputDb = 3.5f, latency = -1.0f;

  Host(const LilvPlugin* plugin, double rate, int channelCount) : channels(channelCount) {
    instance = lilv_plugin_instantiate(plugin, rate, nullptr);
    if (instance == nullptr) return;
    std::uint32_t port = 0;
    for (int c = 0; c < channels; ++c) {
      in[c].assign(4096, 0.0f);
      lilv_instance_connect_port(instance, port++, in[c].data());
    }
    for (int c = 0; c < channels; ++c) {
      out[c].assign(4096, 0.0f);
      lilv_instance_connect_port(instance, port++, out[c].data());
    }
    for (float* control : {&mode, &adapt, &inputDb, &latency}) {
      lilv_instance_connect_port(instance, port++, control);
    }
    lilv_instance_activate(instance);
  }
  ~Host() {
    if (instance == nullptr) return;
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
  }
  // Runs frames [first, first + n) of the interleaved signal; appends the output.
  void run(const std::vector<float>& signal, size_t first, std::uint32_t n,
           std::vector<float>& output) {
    for (std::uint32_t i = 0; i < n; ++i) {
      for (int c = 0; c < channels; ++c) in[c][i] = signal[(first + i) * channels + c];
    }
    lilv_instance_run(instance, n);
    for (std::uint32_t i = 0; i < n; ++i) {
      for (int c = 0; c < channels; ++c) output.push_back(out[c][i]);
    }
  }
};

std::vector<float> programme(size_t frames, int channels) {
  std::vector<float> x(frames * channels);
  std::uint32_t seed = 99;
  for (size_t f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
      const double burst = (f / 9000) % 3 == 0 ? 1.6 : 0.2;  // overs, then quiet
      x[f * channels + c] =
          static_cast<float>(burst * (std::sin(0.02 * f * (c + 1)) + 0.4 * noise));
    }
  }
  return x;
}

// Parameter: the channel count, which picks the mono or the stereo plugin.
class Lv2Plugin : public ::testing::TestWithParam<int> {
 protected:
  World world;
  int channels = GetParam();
  const LilvPlugin* plugin = world.plugin(kUri + (channels == 1 ? "/mono" : "/stereo"));

  void SetUp() override {
    ASSERT_NE(plugin, nullptr) << "bundle not found; LV2_PATH="
                               << (getenv("LV2_PATH") ? getenv("LV2_PATH") : "");
  }
};

TEST_P(Lv2Plugin, LatencyPortMatchesTheLibraryForEveryVoicing) {
  EXPECT_TRUE(lilv_plugin_has_latency(plugin));
  for (double rate : {44100.0, 96000.0}) {
    Host host(plugin, rate, channels);
    ASSERT_NE(host.instance, nullptr);
    vantle_tonbrel* reference = vantle_tonbrel_create(rate);
    for (int mode = 0; mode < 3; ++mode) {
      for (float adapt : {0.0f, 50.0f, 100.0f}) {
        host.mode = static_cast<float>(mode);
        host.adapt = adapt;
        lilv_instance_run(host.instance, 0);  // how hosts ask for the latency
        vantle_tonbrel_apply(reference, mode, adapt, vantle_tonbrel_default_input_db(mode));
        EXPECT_EQ(host.latency, static_cast<float>(vantle_tonbrel_latency(reference)))
            << "mode " << mode << " adapt " << adapt << " at " << rate;
      }
    }
    vantle_tonbrel_destroy(reference);
  }
}

// A host that automates every control, in runs of uneven length: nothing
// that is not a number, nothing at or above the ceiling, and the latency port
// always what the library says for the controls in force.
TEST_P(Lv2Plugin, ControlsMovedInMidStreamKeepTheOutputSafe) {
  Host host(plugin, 48000.0, channels);
  ASSERT_NE(host.instance, nullptr);
  const size_t frames = 48000 * 8;
  const std::vector<float> signal = programme(frames, channels);
  std::vector<float> output;
  size_t done = 0;
  for (std::uint32_t k = 0; done < frames; ++k) {
    const auto n = static_cast<std::uint32_t>(std::min<size_t>(1 + (k * 37) % 4096, frames - done));
    host.adapt = static_cast<float>((k * 7) % 101);            // swept up and down
    host.inputDb = -12.0f + static_cast<float>((k * 5) % 31);  // -12 .. 18 dB
    if (k % 40 == 39) host.mode = static_cast<float>((k / 40) % 3);
    if (k == 200) host.adapt = std::nanf("");  // a broken host
    host.run(signal, done, n, output);
    done += n;
  }
  ASSERT_EQ(output.size(), signal.size());
  for (size_t i = 0; i < output.size(); ++i) {
    ASSERT_TRUE(std::isfinite(output[i])) << "sample " << i;
    ASSERT_LT(std::fabs(output[i]), kCeiling) << "sample " << i;
  }
}

// Deactivating and activating again rests the chain once, as the library's
// reset does (a transport restart); the first activation does not, so a
// plugin that runs from the start sounds exactly like the program.
TEST_P(Lv2Plugin, ReactivationRestsTheChainOnce) {
  Host host(plugin, 48000.0, channels);
  ASSERT_NE(host.instance, nullptr);
  host.mode = 1.0f;
  host.adapt = 70.0f;
  const std::vector<float> signal = programme(48000, channels);
  std::vector<float> played;
  for (size_t done = 0; done < 48000; done += 4000) host.run(signal, done, 4000, played);
  lilv_instance_deactivate(host.instance);
  lilv_instance_activate(host.instance);
  for (size_t done = 0; done < 48000; done += 4000) host.run(signal, done, 4000, played);

  vantle_tonbrel* reference = vantle_tonbrel_create(48000.0);
  vantle_tonbrel_apply(reference, 1, 70.0, vantle_tonbrel_default_input_db(1));
  std::vector<float> expected = signal;
  vantle_tonbrel_process(reference, expected.data(), 48000, channels);
  vantle_tonbrel_reset(reference);
  std::vector<float> again = signal;
  vantle_tonbrel_process(reference, again.data(), 48000, channels);
  vantle_tonbrel_destroy(reference);
  expected.insert(expected.end(), again.begin(), again.end());
  EXPECT_EQ(played, expected);
}

INSTANTIATE_TEST_SUITE_P(MonoAndStereo, Lv2Plugin, ::testing::Values(1, 2));

}  // namespace
