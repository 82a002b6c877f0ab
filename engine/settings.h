// The user's settings and the types that cross the engine's boundary.
#pragma once

#include <cstdint>

namespace vantle {

enum class ProcessingMode : std::int32_t { podcast = 0, stream = 1, limiter = 2 };

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
  double fs;           // Hz, finite, 8000..768000
  double d;            // adapt fraction, 0..1
  double inputGainDb;  // dB as stored (clamped again by the input stage)
  double outputCeiling;
};

// Output ceiling: linear of -0.1 dB, the same in every mode and at every rate.
constexpr double kOutputCeiling = 0.9885530946569389;

}  // namespace vantle
