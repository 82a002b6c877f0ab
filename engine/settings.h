// The user's settings and the types that cross the engine's boundary.
#pragma once

#include <cstdint>

namespace vantle {

enum class ProcessingMode : std::int32_t { podcast = 0, stream = 1, limiter = 2 };

// Sample rates the engine runs at, Hz. Processor::setSampleRate runs at
// 48000 Hz instead of a rate outside them or one that is not finite.
constexpr double kMinSampleRate = 8000.0;
constexpr double kMaxSampleRate = 768000.0;

// Input gain range, dB. Processor::applySettings clamps the stored setting (a
// NaN passes); the input stage clamps again, so a NaN gets the lowest gain.
constexpr double kMinInputGainDb = -12.0;
constexpr double kMaxInputGainDb = 18.0;

struct ProcessorSettings {
  ProcessingMode mode = ProcessingMode::podcast;
  double inputGainDb = 3.5;  // dB, applied before anything else
  double adapt = 0.0;        // 0..100, gentle to strong
};

struct StereoFrame {
  float left;
  float right;
};

// What every stage's derivation starts from: the four inputs, already repaired
// by the callers, and the values every stage shares.
struct DeriveInputs {
  ProcessingMode mode;
  double fs;           // Hz, finite, kMinSampleRate..kMaxSampleRate
  double d;            // adapt fraction, 0..1
  double inputGainDb;  // dB as stored (clamped again by the input stage)
  double outputCeiling;
};

// Output ceiling: linear of -0.1 dB, the same in every mode and at every rate.
constexpr double kOutputCeiling = 0.9885530946569389;

}  // namespace vantle
