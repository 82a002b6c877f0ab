// The vantle-tonbrel chain as an LV2 plugin, stereo and mono, over the C
// library. run() allocates nothing, takes no lock and does no I/O: the
// stream is created in instantiate, and settings are applied only when a
// control has moved.
#include <lv2/core/lv2.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "library/vantle-tonbrel.h"
#include "plugin_uri.h"

namespace {

constexpr char kStereoUri[] = VANTLE_LV2_URI "/stereo";
constexpr char kMonoUri[] = VANTLE_LV2_URI "/mono";

// The input gain port's declared default: podcast's gain, the default mode's.
constexpr float kInputDbPortDefault = 3.5f;

// Host buffers run through an interleaved scratch block of this many frames.
constexpr std::uint32_t kScratchFrames = 1024;

// Port order: the audio inputs, the audio outputs, then the controls.
enum Control : std::uint32_t { kMode = 0, kAdapt, kInputDb, kLatency, kControls };

struct Settings {
  int mode;
  double adapt;
  double inputDb;
};

struct Plugin {
  vantle_tonbrel* stream = nullptr;
  int channels = 2;
  const float* in[2] = {};
  float* out[2] = {};
  const float* control[kLatency] = {};
  float* latency = nullptr;
  // The input gain follows the mode's own until the host moves its port
  // away from the value it had.
  float inputDbPortSeen = kInputDbPortDefault;
  bool inputDbMoved = false;
  Settings applied{-1, 0.0, 0.0};
  bool processed = false;  // audio ran since instantiate or the last activate
  float scratch[kScratchFrames * 2] = {};
};

// A control's value, or the fallback while the host has not connected it or
// sends something that is not a number.
double controlValue(const Plugin& p, Control which, double fallback) {
  const float* port = p.control[which];
  if (port == nullptr || !std::isfinite(*port)) return fallback;
  return static_cast<double>(*port);
}

double clampTo(double v, double low, double high) { return v < low ? low : (v > high ? high : v); }

Settings wantedSettings(Plugin& p) {
  const Settings& last = p.applied;
  Settings s{};
  const double mode = controlValue(p, kMode, last.mode < 0 ? 0.0 : last.mode);
  s.mode =
      static_cast<int>(std::lround(clampTo(mode, VANTLE_TONBREL_PODCAST, VANTLE_TONBREL_LIMITER)));
  s.adapt = clampTo(controlValue(p, kAdapt, last.mode < 0 ? 0.0 : last.adapt), 0.0, 100.0);
  const float* gainPort = p.control[kInputDb];
  if (gainPort != nullptr && std::isfinite(*gainPort) && *gainPort != p.inputDbPortSeen) {
    p.inputDbPortSeen = *gainPort;
    p.inputDbMoved = true;
  }
  s.inputDb = p.inputDbMoved ? clampTo(static_cast<double>(p.inputDbPortSeen),
                                       VANTLE_TONBREL_MIN_INPUT_DB, VANTLE_TONBREL_MAX_INPUT_DB)
                             : vantle_tonbrel_default_input_db(s.mode);
  return s;
}

void applyMovedControls(Plugin& p) {
  const Settings s = wantedSettings(p);
  const Settings& a = p.applied;
  if (s.mode == a.mode && s.adapt == a.adapt && s.inputDb == a.inputDb) return;
  // Every value is within range here, so the call cannot fail.
  vantle_tonbrel_apply(p.stream, s.mode, s.adapt, s.inputDb);
  p.applied = s;
}

LV2_Handle instantiate(const LV2_Descriptor* descriptor, double rate, const char*,
                       const LV2_Feature* const*) {
  vantle_tonbrel* stream = vantle_tonbrel_create(rate);
  if (stream == nullptr) return nullptr;
  auto* p = new (std::nothrow) Plugin;
  if (p == nullptr) {
    vantle_tonbrel_destroy(stream);
    return nullptr;
  }
  p->stream = stream;
  p->channels = std::strcmp(descriptor->URI, kMonoUri) == 0 ? 1 : 2;
  return p;
}

void connectPort(LV2_Handle instance, std::uint32_t port, void* data) {
  auto& p = *static_cast<Plugin*>(instance);
  const auto channels = static_cast<std::uint32_t>(p.channels);
  if (port < channels) {
    p.in[port] = static_cast<const float*>(data);
  } else if (port < 2 * channels) {
    p.out[port - channels] = static_cast<float*>(data);
  } else if (port - 2 * channels < kLatency) {
    p.control[port - 2 * channels] = static_cast<const float*>(data);
  } else if (port - 2 * channels == kLatency) {
    p.latency = static_cast<float*>(data);
  }
}

void activate(LV2_Handle instance) {
  auto& p = *static_cast<Plugin*>(instance);
  // A new run of audio starts from rest, as a fresh stream would.
  if (p.processed) vantle_tonbrel_reset(p.stream);
  p.processed = false;
}

void run(LV2_Handle instance, std::uint32_t frames) {
  auto& p = *static_cast<Plugin*>(instance);
  applyMovedControls(p);
  if (p.latency != nullptr) *p.latency = static_cast<float>(vantle_tonbrel_latency(p.stream));
  const int channels = p.channels;
  for (int c = 0; c < channels; ++c) {
    if (p.in[c] == nullptr || p.out[c] == nullptr) return;
  }
  for (std::uint32_t done = 0; done < frames;) {
    const std::uint32_t n = frames - done < kScratchFrames ? frames - done : kScratchFrames;
    for (std::uint32_t i = 0; i < n; ++i) {
      for (int c = 0; c < channels; ++c) p.scratch[i * channels + c] = p.in[c][done + i];
    }
    vantle_tonbrel_process(p.stream, p.scratch, n, channels);
    for (std::uint32_t i = 0; i < n; ++i) {
      for (int c = 0; c < channels; ++c) p.out[c][done + i] = p.scratch[i * channels + c];
    }
    done += n;
  }
  if (frames > 0) p.processed = true;
}

void cleanup(LV2_Handle instance) {
  auto* p = static_cast<Plugin*>(instance);
  vantle_tonbrel_destroy(p->stream);
  delete p;
}

const void* extensionData(const char*) { return nullptr; }

const LV2_Descriptor kDescriptors[] = {
    {kStereoUri, instantiate, connectPort, activate, run, nullptr, cleanup, extensionData},
    {kMonoUri, instantiate, connectPort, activate, run, nullptr, cleanup, extensionData},
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(std::uint32_t index) {
  return index < sizeof kDescriptors / sizeof kDescriptors[0] ? &kDescriptors[index] : nullptr;
}
