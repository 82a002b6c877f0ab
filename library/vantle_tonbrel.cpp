// libvantle-tonbrel: the C interface over the engine's Processor. It checks
// every argument the engine would otherwise repair silently, and keeps C++
// exceptions (only an allocation can throw, at create) on this side.
#include <cmath>
#include <cstdint>
#include <new>

#include "engine/processor.h"
#include "library/vantle-tonbrel.h"
#include "vantle_version.h"

struct vantle_tonbrel {
  vantle::Processor processor;
  // The program applies its settings once before the first frame; a stream
  // that is never given settings gets podcast's the same way.
  bool applied = false;
};

namespace {

bool validMode(int mode) {
  return mode >= VANTLE_TONBREL_PODCAST && mode <= VANTLE_TONBREL_LIMITER;
}

// Written so that a value that is not a number fails.
bool within(double value, double low, double high) { return value >= low && value <= high; }

}  // namespace

extern "C" {

vantle_tonbrel* vantle_tonbrel_create(double sample_rate) {
  if (!within(sample_rate, VANTLE_TONBREL_MIN_RATE, VANTLE_TONBREL_MAX_RATE)) return nullptr;
  vantle_tonbrel* handle = nullptr;
  try {
    handle = new vantle_tonbrel;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  handle->processor.setSampleRate(sample_rate);
  return handle;
}

void vantle_tonbrel_destroy(vantle_tonbrel* handle) { delete handle; }

int vantle_tonbrel_apply(vantle_tonbrel* handle, int mode, double adapt, double input_db) {
  if (handle == nullptr) return VANTLE_TONBREL_ERROR_NULL;
  if (!validMode(mode) || !within(adapt, 0.0, 100.0) ||
      !within(input_db, VANTLE_TONBREL_MIN_INPUT_DB, VANTLE_TONBREL_MAX_INPUT_DB)) {
    return VANTLE_TONBREL_ERROR_ARGUMENT;
  }
  vantle::Processor& p = handle->processor;
  const vantle::ProcessorSettings wanted{static_cast<vantle::ProcessingMode>(mode), input_db,
                                         adapt};
  // A change of mode rests the chain and takes the new mode's own gain; the
  // caller's gain then follows as a change within the mode.
  p.applySettings(wanted);
  if (p.settings.inputGainDb != input_db) p.applySettings(wanted);
  handle->applied = true;
  return VANTLE_TONBREL_OK;
}

int vantle_tonbrel_process(vantle_tonbrel* handle, float* buffer, size_t frames, int channels) {
  if (handle == nullptr) return VANTLE_TONBREL_ERROR_NULL;
  if (channels != 1 && channels != 2) return VANTLE_TONBREL_ERROR_ARGUMENT;
  if (frames == 0) return VANTLE_TONBREL_OK;
  if (buffer == nullptr) return VANTLE_TONBREL_ERROR_NULL;
  // No buffer holds more bytes than a pointer difference can count.
  if (frames > static_cast<size_t>(PTRDIFF_MAX) / (sizeof(float) * static_cast<size_t>(channels))) {
    return VANTLE_TONBREL_ERROR_ARGUMENT;
  }
  vantle::Processor& p = handle->processor;
  if (!handle->applied) {
    p.applySettings(vantle::Processor::defaultSettings(vantle::ProcessingMode::podcast));
    handle->applied = true;
  }
  p.processBuffer(buffer, static_cast<std::int64_t>(frames), channels);
  return VANTLE_TONBREL_OK;
}

int vantle_tonbrel_reset(vantle_tonbrel* handle) {
  if (handle == nullptr) return VANTLE_TONBREL_ERROR_NULL;
  handle->processor.reset();
  return VANTLE_TONBREL_OK;
}

int vantle_tonbrel_latency(const vantle_tonbrel* handle) {
  return handle == nullptr ? -1 : handle->processor.latencyFrames();
}

double vantle_tonbrel_default_input_db(int mode) {
  if (!validMode(mode)) return std::nan("");
  return vantle::Processor::defaultSettings(static_cast<vantle::ProcessingMode>(mode)).inputGainDb;
}

const char* vantle_tonbrel_version(void) { return VANTLE_VERSION; }

const char* vantle_tonbrel_status_text(int status) {
  switch (status) {
    case VANTLE_TONBREL_OK:
      return "ok";
    case VANTLE_TONBREL_ERROR_NULL:
      return "no handle or no buffer";
    case VANTLE_TONBREL_ERROR_ARGUMENT:
      return "an argument is outside what the call takes";
    default:
      return "unknown status";
  }
}

}  // extern "C"
