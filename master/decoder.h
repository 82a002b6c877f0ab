// Reading any audio a podcaster has: the first audio stream of any container
// the FFmpeg libraries read, decoded and handed out as interleaved 32-bit
// floats, mono or stereo, at a rate the engine runs at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct SwrContext;
struct AVFrame;
struct AVPacket;

namespace vantle {

// What the input is, as the report gives it.
struct InputFacts {
  std::string format;  // container, as FFmpeg names it
  std::string codec;
  int rate = 0;         // Hz, as stored
  int channels = 0;     // as stored
  double duration = 0;  // seconds, from the container (0 when unknown)
};

struct Decoder {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  SwrContext* resampler = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  int stream = -1;
  bool flushed = false;  // the decoder and the resampler have given everything
  InputFacts facts;
  int outRate = 0;      // the rate handed out: the input's, or 48000 outside the engine's rates
  int outChannels = 0;  // 1 or 2; more channels are mixed down to stereo
  std::vector<float> pending;   // converted frames not yet handed out
  std::size_t pendingRead = 0;  // floats of pending already handed out
};

// Opens path; false with a one-line reason in error. With rate > 0 the
// audio is handed out at that rate.
bool openDecoder(Decoder& d, const std::string& path, std::string& error, int rate = 0);

// Up to frames interleaved frames into out; the number given, 0 at the end,
// -1 with error set when the input cannot be read.
long long readFrames(Decoder& d, float* out, long long frames, std::string& error);

void closeDecoder(Decoder& d);

}  // namespace vantle
