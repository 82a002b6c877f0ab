// Writing the delivered file: the format chosen by OUTPUT's extension,
// encoded with the FFmpeg libraries, into a file that becomes OUTPUT only
// when it is complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace vantle {

enum class OutputKind { wav, flac, mp3, m4a, opus };

// Lossy kinds add overs of their own: what they wrote is measured again.
bool isLossy(OutputKind kind);

// The rate a kind must be written at (0: any the engine runs at).
int requiredRate(OutputKind kind);

// The kind for a file name by its extension (any case); false when none.
bool outputKindFor(const std::string& path, OutputKind& kind);

struct Encoder {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  bool integer = false;  // 24-bit integers (dithered), else 32-bit float
  bool planar = false;   // one plane per channel
  int channels = 0;
  int frameSize = 0;           // frames per encoder call
  std::vector<float> waiting;  // interleaved frames not yet encoded
  std::uint32_t ditherState = 0x9E3779B9u;
  bool headerWritten = false;
  std::int64_t pts = 0;  // frames encoded so far
};

// Whether kind carries a gain its decoders apply to everything they decode
// (Opus's output gain, in 1/256 dB): a level set there is exact, where one
// set before the encoder moves its quantised output in jumps.
bool hasOutputGain(OutputKind kind);

// The output gain a file can carry nearest under gainDb: whole 1/256 dB.
double writableOutputGain(double gainDb);

// Opens path (the temporary file) for kind at rate with 1 or 2 channels;
// asFloat picks 32-bit float for WAV; outputGainDb is written as the file's
// output gain where hasOutputGain(kind), rounded down to its step.
bool openEncoder(Encoder& e, const std::string& path, OutputKind kind, bool asFloat, int rate,
                 int channels, std::string& error, double outputGainDb = 0);

// Encodes interleaved frames.
bool writeFrames(Encoder& e, const float* samples, long long frames, std::string& error);

// Encodes what is left and writes the file's end; false when it could not.
bool finishEncoder(Encoder& e, std::string& error);

void closeEncoder(Encoder& e);

}  // namespace vantle
