#include "master/loudness.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>

namespace vantle {

namespace {

double toDb(double linear) { return linear > 0 ? 20.0 * std::log10(linear) : -HUGE_VAL; }

constexpr int kOversampledRate = 192000;

void scanPeak(LoudnessMeter& m, int frames) {
  const float* s = m.scratch;
  for (long long i = 0; i < static_cast<long long>(frames) * m.channels; ++i) {
    const double v = std::fabs(static_cast<double>(s[i]));
    if (v > m.oversampledPeak) m.oversampledPeak = v;
  }
}

// Feeds frames (or, with samples null, what the resampler still holds).
bool oversample(LoudnessMeter& m, const float* samples, long long frames) {
  if (m.oversampler == nullptr) return true;
  const int room = swr_get_out_samples(m.oversampler, static_cast<int>(frames));
  if (room < 0) return false;
  if (room > m.scratchFrames) {
    av_free(m.scratch);
    m.scratch = static_cast<float*>(av_malloc(sizeof(float) * room * m.channels));
    m.scratchFrames = m.scratch != nullptr ? room : 0;
    if (m.scratch == nullptr) return false;
  }
  auto* out = reinterpret_cast<std::uint8_t*>(m.scratch);
  const auto* in = reinterpret_cast<const std::uint8_t*>(samples);
  const int got = swr_convert(m.oversampler, &out, room, samples != nullptr ? &in : nullptr,
                              static_cast<int>(frames));
  if (got < 0) return false;
  scanPeak(m, got);
  return true;
}

}  // namespace

bool openMeter(LoudnessMeter& m, int channels, int rate, std::string& error) {
  m.state =
      ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                   EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK | EBUR128_MODE_S);
  if (m.state == nullptr) {
    error = "cannot set up the loudness meter";
    return false;
  }
  m.channels = static_cast<unsigned>(channels);
  m.rate = rate;
  m.nextReading = rate;
  if (rate < kOversampledRate) {
    AVChannelLayout layout = {};
    av_channel_layout_default(&layout, channels);
    const int status =
        swr_alloc_set_opts2(&m.oversampler, &layout, AV_SAMPLE_FMT_FLT, kOversampledRate, &layout,
                            AV_SAMPLE_FMT_FLT, rate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    if (status < 0 || swr_init(m.oversampler) < 0) {
      error = "cannot set up the true-peak meter";
      return false;
    }
  }
  return true;
}

bool addFrames(LoudnessMeter& m, const float* samples, long long frames, std::string& error) {
  if (ebur128_add_frames_float(m.state, samples, static_cast<std::size_t>(frames)) !=
          EBUR128_SUCCESS ||
      !oversample(m, samples, frames)) {
    error = "the loudness meter failed";
    return false;
  }
  m.framesSeen += frames;
  while (m.framesSeen >= m.nextReading) {
    double lufs = 0;
    if (ebur128_loudness_shortterm(m.state, &lufs) == EBUR128_SUCCESS) {
      m.shortTerm.emplace_back(static_cast<double>(m.nextReading) / m.rate, lufs);
    }
    m.nextReading += m.rate;
  }
  return true;
}

Loudness readMeter(LoudnessMeter& m) {
  oversample(m, nullptr, 0);
  Loudness out;
  ebur128_loudness_global(m.state, &out.integrated);
  ebur128_loudness_range(m.state, &out.range);
  double sample = 0;
  for (unsigned c = 0; c < m.channels; ++c) {
    double s = 0;
    if (ebur128_sample_peak(m.state, c, &s) == EBUR128_SUCCESS && s > sample) sample = s;
  }
  // At 192 kHz and above the samples are their own true peak.
  out.truePeak = toDb(m.oversampler != nullptr ? std::max(m.oversampledPeak, sample) : sample);
  out.samplePeak = toDb(sample);
  out.shortTerm = m.shortTerm;
  return out;
}

void closeMeter(LoudnessMeter& m) {
  if (m.state != nullptr) ebur128_destroy(&m.state);
  swr_free(&m.oversampler);
  av_freep(&m.scratch);
  m.scratchFrames = 0;
}

}  // namespace vantle
