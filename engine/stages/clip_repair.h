// Clip-event repair under a look-ahead limiter (stream and limiter mode).
// The stereo signal is delayed by a few milliseconds; short, isolated stretches
// where a 6 dB knee below the ceiling would bite are rounded by that knee
// (clipping that recurs with the waveform's period, or that is dense, is left
// to the limiters), and a look-ahead limiter on the output-gained signal keeps
// the result inside the output ceiling.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/settings.h"
#include "engine/stages/output_control.h"

namespace vantle {

constexpr int kRepairRingLength = 16384;  // power of two; delays at most 16382
constexpr int kEnergyRingLength = 8192;   // 8 ms windows use at most 8191 entries

// Derived parameters (written by the derivation only).
struct ClipRepairParams {
  double outputCeiling = kOutputCeiling;
  double sampleRate = 48000.0;
  double repairAmount = 0.0;   // blend of the repaired signal over the delayed one
  int repairLookahead = 0;     // samples between detection and the repair decision
  int repairWindow = 0;        // samples over which the limiter fades a reduction in
  int repairDelay = 0;         // samples of delay; the stage runs only when >= 1
  int energyLen = 1;           // entries of the 8 ms energy windows
  std::int64_t minLag = 2;     // shortest period the periodicity check looks for
  std::int64_t maxLag = 3;     // longest period the periodicity check looks for
  double allowFall = 0.0;      // per-sample pole of the quality gate closing, 0.25 ms
  double allowRise = 0.0;      // per-sample pole of the quality gate opening, 8 ms
  double repairRelease = 0.0;  // per-sample release pole of the limiter gain, 30 ms
  double kneeStart = 0.0;      // linear of -6 dB: where the knee starts below a ceiling
  // Fade-in weights of the limiter window, smoothstep(j / W) for j = 0..W and 1
  // beyond; 16384 entries acquired once, rewritten by every derivation.
  std::unique_ptr<double[]> repairWindowShape;

  ClipRepairParams();
};

// Run-time state; all rings are indexed by writeIndex unless stated.
//   rawRing[c]        delayed input per channel, per frame; reset 0
//   kneeRing[c]       input after the 6 dB knee, per frame; reset 0
//   repairedRing[c]   input blended towards the knee by the event weight; reset 0
//   ceilingRing       per-sample ceiling C / max(1, output gain); reset 1
//   gainRing          per-sample max(1, output gain); reset 1
//   markRing          event weight 0..1 per sample; reset 0
//   allowRing         quality gate per sample; reset 1
//   needGainRing      gain that brings the repaired sample under its ceiling; reset 1
//   overRing          bytes, 1 where needGainRing < 1; reset 0
//   energyRing[0/1]   signal / knee-error power, energyLen used, own index; reset 0
//   writeIndex        ring position 0..16383, per frame; reset 0
//   sampleCounter     frames since reset (ring position = counter mod 16384); reset 0
//   energyIndex, energyCount   energy window position and fill 0..energyLen; reset 0
//   signalSum, errorSum        running sums of the energy windows; reset 0
//   allowState        smoothed quality gate 0..1, per frame; reset 1
//   clipping          whether the knee bit in the previous frame; reset false
//   eventStart, eventStartIndex  counter (-1: none) and ring position of the onset
//   onsetTimes[3]     counters of the last three onsets, newest first; reset -1e9
//   periodicity       correlation found at the last onset, 0..1; reset 0
//   overCount, overCountValid  set overRing entries in the limiter window; reset 0, false
//   repairGain        smoothed limiter gain, per frame; reset 1
struct ClipRepairState {
  std::unique_ptr<double[]> rawRing[2];
  std::unique_ptr<double[]> kneeRing[2];
  std::unique_ptr<double[]> repairedRing[2];
  std::unique_ptr<double[]> ceilingRing;
  std::unique_ptr<double[]> gainRing;
  std::unique_ptr<double[]> markRing;
  std::unique_ptr<double[]> allowRing;
  std::unique_ptr<double[]> needGainRing;
  std::unique_ptr<double[]> energyRing[2];
  std::unique_ptr<std::uint8_t[]> overRing;
  int writeIndex = 0;
  std::int64_t sampleCounter = 0;
  int energyIndex = 0;
  int energyCount = 0;
  double signalSum = 0.0;
  double errorSum = 0.0;
  double allowState = 1.0;
  bool clipping = false;
  std::int64_t eventStart = -1;
  int eventStartIndex = 0;
  std::int64_t onsetTimes[3] = {-1000000000, -1000000000, -1000000000};
  double periodicity = 0.0;
  int overCount = 0;
  bool overCountValid = false;
  double repairGain = 1.0;

  // Acquires every ring once, filled with its reset value.
  ClipRepairState();
};

void deriveClipRepair(ClipRepairParams& p, const DeriveInputs& in);
void resetClipRepair(ClipRepairState& s, const ClipRepairParams& p);

// Soft knee that starts kneeStart x ceiling and approaches the ceiling.
double repairKnee(double x, double ceiling, double kneeStart);

// Correlation (0..1) of the signal around counter n with itself one onset
// interval earlier, over the stored onsets and lags stretched by up to 4 %.
double periodicityScore(const ClipRepairParams& p, const ClipRepairState& s, std::int64_t n);

// In place, reading the output stage's gliding gain of each frame. Does nothing
// where the repair is off (podcast mode: no repair delay).
void runClipRepair(const ClipRepairParams& p, ClipRepairState& s,
                   const OutputControlOutput* outputs, double* left, double* right, int frames);

}  // namespace vantle
