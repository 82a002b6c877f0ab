/* libvantle-tonbrel: the vantle-tonbrel chain as a C library.
 *
 * One handle is one stream: create it with the stream's sample rate, choose
 * the voicing with vantle_tonbrel_apply, then pass the audio through
 * vantle_tonbrel_process in order, in buffers of any length. The samples that
 * come out are the samples `vantle-tonbrel` writes for the same input and the
 * same settings, bit for bit.
 *
 * Threads: a handle may be used from any thread, one call at a time; separate
 * handles are independent. After create, no call allocates, locks or does I/O,
 * so process, apply and reset may run on a real-time audio thread.
 *
 * Every call that can fail returns a status (VANTLE_TONBREL_OK or a negative
 * VANTLE_TONBREL_ERROR_*) and leaves the handle as it was when it fails. */
#ifndef VANTLE_TONBREL_H
#define VANTLE_TONBREL_H

#include <stddef.h>

#if defined(_WIN32) && defined(VANTLE_TONBREL_SHARED_BUILD)
#define VANTLE_TONBREL_API __declspec(dllexport)
#elif defined(_WIN32) && !defined(VANTLE_TONBREL_STATIC)
#define VANTLE_TONBREL_API __declspec(dllimport)
#elif defined(__GNUC__)
#define VANTLE_TONBREL_API __attribute__((visibility("default")))
#else
#define VANTLE_TONBREL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Voicings. */
#define VANTLE_TONBREL_PODCAST 0
#define VANTLE_TONBREL_STREAM 1
#define VANTLE_TONBREL_LIMITER 2

/* Statuses. */
#define VANTLE_TONBREL_OK 0
#define VANTLE_TONBREL_ERROR_NULL (-1)     /* the handle or the buffer is NULL */
#define VANTLE_TONBREL_ERROR_ARGUMENT (-2) /* a value outside what the call takes */

/* Limits of the arguments. */
#define VANTLE_TONBREL_MIN_RATE 8000.0
#define VANTLE_TONBREL_MAX_RATE 768000.0
#define VANTLE_TONBREL_MIN_INPUT_DB (-12.0)
#define VANTLE_TONBREL_MAX_INPUT_DB 18.0

typedef struct vantle_tonbrel vantle_tonbrel;

/* A new stream at sample_rate Hz (8000 to 768000), in podcast mode at adapt 0
 * with podcast's input gain until vantle_tonbrel_apply says otherwise.
 * NULL when the rate is outside that range or not a number, or when memory
 * runs out (the handle holds about 2 MB). */
VANTLE_TONBREL_API vantle_tonbrel* vantle_tonbrel_create(double sample_rate);

/* Frees the handle; NULL is allowed and does nothing. */
VANTLE_TONBREL_API void vantle_tonbrel_destroy(vantle_tonbrel* handle);

/* Sets the voicing: mode (VANTLE_TONBREL_PODCAST, _STREAM or _LIMITER), adapt
 * 0 to 100 (gentle to strong) and the input gain in dB (-12 to 18; see
 * vantle_tonbrel_default_input_db). Values are taken as given, never clamped:
 * a mode out of range, an adapt or gain outside its range, or one that is not
 * a number gives VANTLE_TONBREL_ERROR_ARGUMENT and changes nothing.
 * A change of mode starts the chain from rest, as the program does when its
 * mode changes; adapt and input gain change without a break in the sound. */
VANTLE_TONBREL_API int vantle_tonbrel_apply(vantle_tonbrel* handle, int mode, double adapt,
                                            double input_db);

/* Processes frames interleaved frames of channels (1 or 2) 32-bit float
 * samples in place. With one channel the chain runs on the sample as both
 * sides and the left result is kept. 0 frames does nothing and succeeds;
 * VANTLE_TONBREL_ERROR_NULL for a NULL handle or buffer (with frames > 0);
 * VANTLE_TONBREL_ERROR_ARGUMENT for another channel count, or a frame count
 * no buffer can hold. Every output sample is a number whose magnitude stays
 * below -0.1 dBFS, whatever the input holds (NaN and infinities included). */
VANTLE_TONBREL_API int vantle_tonbrel_process(vantle_tonbrel* handle, float* buffer, size_t frames,
                                              int channels);

/* Returns the chain to rest, keeping the rate and the voicing: the delay lines
 * empty, the detectors and gains at their starting values. */
VANTLE_TONBREL_API int vantle_tonbrel_reset(vantle_tonbrel* handle);

/* Frames by which the output trails the input with the current voicing and
 * rate (it changes with mode, adapt and rate); -1 for a NULL handle. A host
 * delays the other tracks by this much; a file program drops this many
 * frames at the start and feeds as many frames of silence at the end. */
VANTLE_TONBREL_API int vantle_tonbrel_latency(const vantle_tonbrel* handle);

/* The input gain a mode starts with, in dB (what the program uses when no
 * gain is given); NaN for a mode out of range. */
VANTLE_TONBREL_API double vantle_tonbrel_default_input_db(int mode);

/* The library's version, "MAJOR.MINOR.PATCH" (the same as the program's). */
VANTLE_TONBREL_API const char* vantle_tonbrel_version(void);

/* A short English text for a status, for messages; never NULL. */
VANTLE_TONBREL_API const char* vantle_tonbrel_status_text(int status);

#ifdef __cplusplus
}
#endif

#endif /* VANTLE_TONBREL_H */
