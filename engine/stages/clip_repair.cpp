#include "engine/stages/clip_repair.h"

#include <cmath>

#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/elementary.h"
#include "engine/dsp/window_minimum.h"

namespace vantle {

namespace {

constexpr int kRingMask = kRepairRingLength - 1;

void fill(double* a, int n, double v) {
  for (int k = 0; k < n; ++k) a[k] = v;
}

// Gain that brings the louder channel of a pair under the ceiling l (1 when it
// already is).
inline double neededGain(double l, double repairedL, double repairedR) {
  const double m = stereoPeak(repairedL, repairedR);
  return m > l ? l / (m > 1e-6 ? m : 1e-6) : 1.0;
}

// Quality gate target from the energy windows: 1 while the knee's error stays
// 20 dB or more below the signal, 0 from 16 dB, smooth in between.
double gateTarget(double signalSum, double errorSum, int energyCount) {
  const double sig = signalSum > 0.0 ? signalSum : 0.0;
  const double frames = 2.0 * energyCount;
  const double rms = std::sqrt(sig / (frames > 1.0 ? frames : 1.0));
  if (!(rms >= 0.001)) return 1.0;
  const double err = errorSum > 0.0 ? errorSum : 0.0;
  const double q = err / (signalSum > 1e-18 ? signalSum : 1e-18);
  if (!(q > 1e-12)) return 1.0;
  // Outside 0.0099..0.0252 the ratio is clearly below -20 dB or above -16 dB,
  // so the logarithm is only taken where it decides the value.
  if (q < 0.0099) return 1.0;
  if (q > 0.0252) return 0.0;
  const double db = 4.342944819032518 * naturalLog(q);
  if (db >= -16.0) return 0.0;
  if (db <= -20.0) return 1.0;
  return 1.0 - smoothstep((db + 20.0) * 0.25);
}

// Smallest of q and v + (1 - v) x shape over n entries.
inline double fadedMinimum(const double* v, const double* shape, int n, double q) {
  return runMinimum(n, q, [v, shape](int k) { return v[k] + (1.0 - v[k]) * shape[k]; });
}

}  // namespace

void deriveClipRepair(ClipRepairParams& p, const DeriveInputs& in) {
  const double fs = in.fs;
  const double k = streamVoicing(in.d);
  p.outputCeiling = in.outputCeiling;
  p.sampleRate = fs;
  switch (in.mode) {
    case ProcessingMode::stream:
      p.repairAmount = k;
      p.repairLookahead = msToSamples(1.5, fs, kRepairRingLength - 2);
      p.repairWindow = msToSamples(2.0, fs, kRepairRingLength - 2);
      break;
    case ProcessingMode::limiter:
      p.repairAmount = 1.0;
      p.repairLookahead = msToSamples(2.0, fs, kRepairRingLength - 2);
      p.repairWindow = msToSamples(2.0, fs, kRepairRingLength - 2);
      break;
    default:
      p.repairAmount = 0.0;
      p.repairLookahead = 0;
      p.repairWindow = 0;
      break;
  }
  const int delay = p.repairLookahead + p.repairWindow;
  p.repairDelay = in.mode == ProcessingMode::podcast
                      ? 0
                      : (delay < kRepairRingLength - 2 ? delay : kRepairRingLength - 2);

  double* shape = p.repairWindowShape.get();
  fill(shape, kRepairRingLength, 1.0);
  if (p.repairWindow < 1) {
    shape[0] = 0.0;
  } else {
    const double w = static_cast<double>(p.repairWindow);
    for (int j = 0; j <= p.repairWindow; ++j) shape[j] = smoothstep(static_cast<double>(j) / w);
  }

  const int energy = msToSamples(8.0, fs, kEnergyRingLength - 1);
  p.energyLen = energy > 1 ? energy : 1;
  std::int64_t minLag = msToSamples(0.25, fs, 1 << 30);
  if (minLag < 3) minLag = 2;
  const std::int64_t maxLag = msToSamples(20.0, fs, 5461);
  p.minLag = minLag;
  p.maxLag = maxLag > minLag + 1 ? maxLag : minLag + 1;
  p.allowFall = timePoleFloored(0.00025, fs);
  p.allowRise = timePoleFloored(0.008, fs);
  p.repairRelease = timePoleFloored(0.03, fs);
  p.kneeStart = dbToLinear(-6.0);
}

namespace {

void restoreRings(ClipRepairState& s) {
  for (int c = 0; c < 2; ++c) {
    fill(s.rawRing[c].get(), kRepairRingLength, 0.0);
    fill(s.kneeRing[c].get(), kRepairRingLength, 0.0);
    fill(s.repairedRing[c].get(), kRepairRingLength, 0.0);
    fill(s.energyRing[c].get(), kEnergyRingLength, 0.0);
  }
  fill(s.ceilingRing.get(), kRepairRingLength, 1.0);
  fill(s.gainRing.get(), kRepairRingLength, 1.0);
  fill(s.markRing.get(), kRepairRingLength, 0.0);
  fill(s.allowRing.get(), kRepairRingLength, 1.0);
  fill(s.needGainRing.get(), kRepairRingLength, 1.0);
  for (int k = 0; k < kRepairRingLength; ++k) s.overRing[k] = 0;
  s.writeIndex = 0;
  s.sampleCounter = 0;
  s.energyIndex = 0;
  s.energyCount = 0;
  s.signalSum = 0.0;
  s.errorSum = 0.0;
  s.allowState = 1.0;
  s.clipping = false;
  s.eventStart = -1;
  s.eventStartIndex = 0;
  for (std::int64_t& t : s.onsetTimes) t = -1000000000;
  s.periodicity = 0.0;
  s.overCount = 0;
  s.overCountValid = false;
  s.repairGain = 1.0;
}

}  // namespace

void resetClipRepair(ClipRepairState& s, const ClipRepairParams& p) {
  (void)p;
  restoreRings(s);
}

ClipRepairParams::ClipRepairParams() : repairWindowShape(new double[kRepairRingLength]) {
  fill(repairWindowShape.get(), kRepairRingLength, 1.0);
}

ClipRepairState::ClipRepairState()
    : ceilingRing(new double[kRepairRingLength]),
      gainRing(new double[kRepairRingLength]),
      markRing(new double[kRepairRingLength]),
      allowRing(new double[kRepairRingLength]),
      needGainRing(new double[kRepairRingLength]),
      overRing(new std::uint8_t[kRepairRingLength]) {
  for (int c = 0; c < 2; ++c) {
    rawRing[c].reset(new double[kRepairRingLength]);
    kneeRing[c].reset(new double[kRepairRingLength]);
    repairedRing[c].reset(new double[kRepairRingLength]);
    energyRing[c].reset(new double[kEnergyRingLength]);
  }
  restoreRings(*this);
}

double repairKnee(double x, double ceiling, double kneeStart) {
  const double d = ceiling * kneeStart;
  const double a = std::fabs(x);
  if (a <= d) return x;
  const double span = ceiling - d;
  const double r = span > 1e-12 ? span : 1e-12;
  const double y = kneeCurve(a, d, r);
  return signOf(x) * (y < ceiling ? y : ceiling);
}

double periodicityScore(const ClipRepairParams& p, const ClipRepairState& s, std::int64_t n) {
  const double* rawL = s.rawRing[0].get();
  const double* rawR = s.rawRing[1].get();
  double best = -1.0;
  for (const std::int64_t t0 : s.onsetTimes) {
    if (t0 < -99999999) continue;
    const std::int64_t lag = n - t0;
    if (lag < p.minLag || lag > p.maxLag) continue;
    for (int st = -3; st <= 3; ++st) {
      const std::int64_t m = static_cast<std::int64_t>(
          std::floor((1.0 + st * 0.04 / 3.0) * static_cast<double>(lag) + 0.5));
      if (m < p.minLag || m > p.maxLag) continue;
      const std::int64_t span = m - 1 > 1 ? m - 1 : 1;
      double cross = 0.0;
      double ey = 0.0;
      double ex = 0.0;
      int k = 0;
      for (int j = 0; j <= 7; ++j) {
        const std::int64_t t = static_cast<std::int64_t>(
            std::floor(static_cast<double>(j) * static_cast<double>(span) / 7.0 + 0.5));
        const std::int64_t a = n - t;
        const std::int64_t b = a - m;
        if (b < 0) continue;
        const int ia = static_cast<int>(a & kRingMask);
        const int ib = static_cast<int>(b & kRingMask);
        const double xL = rawL[ia];
        const double xR = rawR[ia];
        const double yL = rawL[ib];
        const double yR = rawR[ib];
        cross = cross + (xL * yL + xR * yR);
        ey = ey + (yL * yL + yR * yR);
        ex = ex + (xL * xL + xR * xR);
        ++k;
      }
      if (k > 2 && ex > 1e-12 && ey > 1e-12) {
        const double c = cross / std::sqrt(ey * ex);
        if (c > best) best = c;
      }
    }
  }
  return best > 0.0 ? best : 0.0;
}

namespace {

// One frame of the stage.
void stepFrame(const ClipRepairParams& p, ClipRepairState& s, const OutputControlOutput& output,
               double& left, double& right) {
  if (p.repairDelay < 1) return;
  const double ceiling = p.outputCeiling;
  const int i = s.writeIndex;
  double* rawL = s.rawRing[0].get();
  double* rawR = s.rawRing[1].get();
  double* repL = s.repairedRing[0].get();
  double* repR = s.repairedRing[1].get();
  double* need = s.needGainRing.get();
  std::uint8_t* over = s.overRing.get();

  // Store the frame with the ceiling and gain of the output gain it carries.
  const double frameGain = output.outputGain > 1.0 ? output.outputGain : 1.0;
  const double frameCeiling = ceiling / frameGain;
  rawL[i] = left;
  rawR[i] = right;
  s.ceilingRing[i] = frameCeiling;
  s.gainRing[i] = frameGain;
  s.markRing[i] = 0.0;
  const int read = (i - p.repairDelay) & kRingMask;

  if (p.repairAmount <= 1e-7) {
    // Pure delay. The frame is still kept as its own unrepaired version, so
    // that turning the repair on later finds consistent rings in its window.
    repL[i] = left;
    repR[i] = right;
    const double needed = neededGain(frameCeiling, left, right);
    need[i] = needed;
    over[i] = needed < 1.0 ? 1 : 0;
    left = rawL[read];
    right = rawR[read];
    s.overCountValid = false;
    s.sampleCounter += 1;
    s.writeIndex = (i + 1) & kRingMask;
    return;
  }

  // Knee 6 dB below this frame's ceiling.
  const double kL = repairKnee(left, frameCeiling, p.kneeStart);
  const double kR = repairKnee(right, frameCeiling, p.kneeStart);
  s.kneeRing[0][i] = kL;
  s.kneeRing[1][i] = kR;

  // 8 ms windows of signal power and knee-error power.
  double* sigRing = s.energyRing[0].get();
  double* errRing = s.energyRing[1].get();
  const int e = s.energyIndex;
  s.signalSum -= sigRing[e];
  s.errorSum -= errRing[e];
  const double sig = left * left + right * right;
  const double err2 = (kL - left) * (kL - left) + (kR - right) * (kR - right);
  sigRing[e] = sig;
  errRing[e] = err2;
  s.signalSum += sig;
  s.errorSum += err2;
  s.energyIndex = e + 1 >= p.energyLen ? 0 : e + 1;
  s.energyCount = s.energyCount + 1 < p.energyLen ? s.energyCount + 1 : p.energyLen;

  // Quality gate: dense clipping closes it within a fraction of a millisecond.
  const double gateAim = gateTarget(s.signalSum, s.errorSum, s.energyCount);
  s.allowState = clampUnitOrZero(
      glide(s.allowState, gateAim, gateAim < s.allowState ? p.allowFall : p.allowRise));
  s.allowRing[i] = s.allowState;

  // Event tracking: an event is a run of frames where the knee bites.
  const double knee = stereoPeak(kL - left, kR - right);
  const bool now = knee > 0.001 * frameCeiling;
  const std::int64_t counter = s.sampleCounter;
  if (now && !s.clipping) {
    s.eventStart = counter;
    s.eventStartIndex = i;
    const double score = periodicityScore(p, s, counter);
    s.onsetTimes[2] = s.onsetTimes[1];
    s.onsetTimes[1] = s.onsetTimes[0];
    s.onsetTimes[0] = counter;
    s.periodicity = score;
  } else if (!now && s.clipping && s.eventStart >= 0) {
    const std::int64_t length = counter - s.eventStart;
    const double ms = static_cast<double>(length) * 1000.0 / p.sampleRate;
    const std::int64_t count = length < kRingMask ? length : kRingMask;
    if (count > 0) {
      double weight = 0.0;
      if (!(p.repairLookahead < length)) {
        weight = smoothstep((ms - 0.45) / 0.15) * (1.0 - smoothstep((ms - 1.5) * 2.0)) *
                 (s.periodicity >= 0.97 ? 0.0 : 1.0);
      }
      double* mark = s.markRing.get();
      for (std::int64_t k = 0; k < count; ++k) {
        mark[(s.eventStartIndex + k) & kRingMask] = weight;
      }
    }
    s.eventStart = -1;
  }
  s.clipping = now;

  // Repair decision for the frame repairLookahead back, now that its event
  // (if any) has been measured.
  const int pos = (i - p.repairLookahead) & kRingMask;
  const double markAllow = s.allowRing[pos] < s.markRing[pos] ? s.allowRing[pos] : s.markRing[pos];
  const double repairShare = clampUnitOrZero(markAllow);
  repL[pos] = rawL[pos] + (s.kneeRing[0][pos] - rawL[pos]) * repairShare;
  repR[pos] = rawR[pos] + (s.kneeRing[1][pos] - rawR[pos]) * repairShare;
  const double needHere = neededGain(s.ceilingRing[pos], repL[pos], repR[pos]);
  need[pos] = needHere;
  over[pos] = needHere < 1.0 ? 1 : 0;

  // Entries below 1 in the limiter window read .. pos.
  const int window = p.repairWindow;
  if (s.overCountValid) {
    if (over[(read - 1) & kRingMask]) --s.overCount;
    if (over[pos]) ++s.overCount;
  } else {
    int count = 0;
    for (int j = 0; j <= window; ++j) count += over[(read + j) & kRingMask];
    s.overCount = count;
    s.overCountValid = true;
  }

  // Window gain: every reduction ahead is faded in over the window.
  double gw = 1.0;
  if (window < 1) {
    gw = need[read];
  } else if (s.overCount >= 1) {
    // Walked as the (at most two) contiguous runs of the ring; every term is
    // at most 1, so starting from 1 changes nothing.
    const double* shape = p.repairWindowShape.get();
    const int count = window + 1;
    const int first = count < kRepairRingLength - read ? count : kRepairRingLength - read;
    gw = fadedMinimum(need + read, shape, first, 1.0);
    gw = fadedMinimum(need, shape + first, count - first, gw);
  }
  if (gw >= s.repairGain) gw = glide(s.repairGain, gw, p.repairRelease);
  if (gw > 0.999999999) gw = 1.0;
  s.repairGain = gw;

  const double gain = s.gainRing[read];
  const double amount = p.repairAmount;
  double yL = clampTo(gw * repL[read] * gain, -ceiling, ceiling);
  double yR = clampTo(gw * repR[read] * gain, -ceiling, ceiling);
  yL = rawL[read] + (yL - rawL[read]) * amount;
  yR = rawR[read] + (yR - rawR[read]) * amount;
  left = clampTo(yL, -ceiling, ceiling);
  right = clampTo(yR, -ceiling, ceiling);

  s.sampleCounter += 1;
  s.writeIndex = (i + 1) & kRingMask;
}

}  // namespace

void runClipRepair(const ClipRepairParams& p, ClipRepairState& s,
                   const OutputControlOutput* outputs, double* left, double* right, int frames) {
  for (int i = 0; i < frames; ++i) stepFrame(p, s, outputs[i], left[i], right[i]);
}

}  // namespace vantle
