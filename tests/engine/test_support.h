// Small helpers shared by the engine tests. The reference conversions are
// written independently of the engine's own, so a test that uses them checks
// the engine against a second computation rather than against itself.
#pragma once

#include <cmath>
#include <memory>

#include "engine/processor.h"
#include "engine/settings.h"

namespace vantle {

// Derivation inputs for a mode, an adapt percentage and a rate (0 dB gain).
inline DeriveInputs inputs(ProcessingMode mode, double adapt, double fs) {
  return DeriveInputs{mode, fs, adapt / 100.0, 0.0, kOutputCeiling};
}

// 10^(dB/20), by the power rather than the engine's exponential.
inline double fromDb(double db) { return std::pow(10.0, db / 20.0); }

// 3x^2 - 2x^3 on x clamped to 0..1, written in another order.
inline double smooth(double x) {
  x = x < 0 ? 0 : (x > 1 ? 1 : x);
  return x * x * (3 - 2 * x);
}

// A processor at a rate with a mode's default gain and the given adapt.
inline std::unique_ptr<Processor> configured(ProcessingMode mode, double adapt, double fs) {
  auto p = std::make_unique<Processor>();
  p->setSampleRate(fs);
  p->applySettings({mode, Processor::defaultSettings(mode).inputGainDb, adapt});
  return p;
}

}  // namespace vantle
