// The engine with anything a caller can hand it: any rate (8000 and 384000
// among them, and rates that are not numbers), any mode, adapt and input gain
// (NaN, infinities and huge values among them), settings and rate changed in
// mid-stream, and samples of every kind (NaN, infinities, 1e30, subnormals)
// in one or two channels. Every output sample is a number strictly inside the
// ceiling, and a second processor that gets the same input cut into random
// pieces gives the same bits.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "engine/processor.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using vantle::ProcessingMode;
using vantle::Processor;
using vantle::ProcessorSettings;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double someRate(FuzzedDataProvider& in) {
  static const double rates[] = {8000.0,   384000.0, 44100.0,  48000.0, 96000.0, 22050.0, 7999.0,
                                 384001.0, 0.0,      -48000.0, 1e300,   kNaN,    kInf};
  return in.ConsumeBool() ? in.PickValueInArray(rates) : in.ConsumeFloatingPoint<double>();
}

double someValue(FuzzedDataProvider& in, double typical) {
  static const double odd[] = {kNaN, kInf, -kInf, 1e300, -1e300, 0.0, -0.0, 100.0, -12.0, 18.0};
  switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
      return typical;
    case 1:
      return in.PickValueInArray(odd);
    default:
      return in.ConsumeFloatingPoint<double>();
  }
}

ProcessorSettings someSettings(FuzzedDataProvider& in) {
  const auto mode = static_cast<ProcessingMode>(in.ConsumeIntegralInRange(0, 2));
  return ProcessorSettings{mode, someValue(in, 0.0), someValue(in, 50.0)};
}

float someSample(FuzzedDataProvider& in, float loud) {
  static const float odd[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              1e30f,
                              -1e30f,
                              1e-40f,
                              -1e-45f,
                              1.0f,
                              -1.0f,
                              0.0f};
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
      return in.PickValueInArray(odd);
    case 1: {
      const std::uint32_t bits = in.ConsumeIntegral<std::uint32_t>();
      float x;
      std::memcpy(&x, &bits, sizeof x);
      return x;
    }
    default:
      return loud;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  auto whole = std::make_unique<Processor>();
  auto pieces = std::make_unique<Processor>();
  const double rate = someRate(in);
  const ProcessorSettings first = someSettings(in);
  for (Processor* p : {whole.get(), pieces.get()}) {
    p->setSampleRate(rate);
    p->applySettings(first);
  }
  const int channels = in.ConsumeIntegralInRange(1, 2);

  std::vector<float> a;
  std::vector<float> b;
  double phase = 0.0;
  for (int segment = 0; segment < 8 && in.remaining_bytes() > 0; ++segment) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
      case 0: {
        const ProcessorSettings s = someSettings(in);
        whole->applySettings(s);
        pieces->applySettings(s);
        continue;
      }
      case 1: {
        const double r = someRate(in);
        whole->setSampleRate(r);
        pieces->setSampleRate(r);
        continue;
      }
      default:
        break;
    }
    // A loud tone of the fuzzer's choosing, with its odd samples strewn in:
    // a few bytes reach deep into the chain's states.
    const int frames = in.ConsumeIntegralInRange(1, 2048);
    const double step = in.ConsumeFloatingPointInRange(0.0, 3.2);
    const double level = in.ConsumeFloatingPointInRange(0.0, 8.0);
    a.resize(static_cast<std::size_t>(frames) * channels);
    for (std::size_t i = 0; i < a.size(); ++i) {
      phase += step;
      const float tone = static_cast<float>(level * std::sin(phase));
      a[i] = in.ConsumeBool() ? someSample(in, tone) : tone;
    }
    b = a;
    whole->processBuffer(a.data(), frames, channels);
    int done = 0;
    while (done < frames) {
      const int n = in.ConsumeIntegralInRange(1, frames - done);
      pieces->processBuffer(b.data() + static_cast<std::size_t>(done) * channels, n, channels);
      done += n;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
      const double y = a[i];
      FUZZ_CHECK(std::isfinite(y) && std::fabs(y) < vantle::kOutputCeiling, "sample %zu is %.9g", i,
                 y);
      FUZZ_CHECK(std::memcmp(&a[i], &b[i], sizeof(float)) == 0,
                 "sample %zu: %.9g in one piece, %.9g in pieces", i, y, static_cast<double>(b[i]));
    }
  }
  return 0;
}
