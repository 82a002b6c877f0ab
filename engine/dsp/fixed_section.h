// Sections whose coefficients live in the derived parameter block while their
// memories live in the stage state: the derivation may redesign them at any
// time without touching the memories, and reset need not know about them.
#pragma once

#include "engine/dsp/filters.h"

namespace vantle {

// Runs the section's memories with the given coefficients (a copy of five
// doubles, so the memories always see the latest design).
inline double runSectionWith(const BiquadCoefficients& c, BiquadSection& s, double x) {
  s.c = c;
  return runBiquad(s, x);
}

}  // namespace vantle
