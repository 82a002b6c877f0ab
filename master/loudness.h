// Loudness as ITU-R BS.1770 and EBU R128 define it, measured with
// libebur128 (integrated loudness, loudness range, short-term loudness,
// sample peak), and the true peak.
#pragma once

#include <ebur128.h>

#include <string>
#include <utility>
#include <vector>

struct SwrContext;

namespace vantle {

struct Loudness {
  double integrated = 0;  // LUFS; -inf for silence
  double range = 0;       // LU
  double truePeak = 0;    // dBTP
  double samplePeak = 0;  // dBFS
  // Short-term loudness (3 s window), LUFS, once a second: {seconds, LUFS}.
  std::vector<std::pair<double, double>> shortTerm;
};

struct LoudnessMeter {
  ebur128_state* state = nullptr;
  unsigned channels = 0;
  // True peak the way resampling meters read it (ffmpeg's ebur128 filter
  // among them): the signal resampled to 192 kHz and its largest magnitude.
  // BS.1770's short 4x interpolator (libebur128's) reads up to 1.3 dB lower
  // on dense high-frequency material, so a limit met by it can be missed by
  // those meters; a limit met here is met by both.
  SwrContext* oversampler = nullptr;
  int oversampledRate = 0;
  double oversampledPeak = 0;
  float* scratch = nullptr;
  int scratchFrames = 0;
  int rate = 0;
  long long framesSeen = 0;
  long long nextReading = 0;  // frame at which short-term loudness is read next
  std::vector<std::pair<double, double>> shortTerm;
};

bool openMeter(LoudnessMeter& m, int channels, int rate, std::string& error);
bool addFrames(LoudnessMeter& m, const float* samples, long long frames, std::string& error);
Loudness readMeter(LoudnessMeter& m);
void closeMeter(LoudnessMeter& m);

}  // namespace vantle
