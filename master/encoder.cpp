#include "master/encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <cctype>
#include <cmath>
#include <cstring>

#include "master/media_error.h"

namespace vantle {

namespace {

constexpr double kInt24Scale = 8388608.0;  // 2^23
constexpr int kDefaultFrameSize = 4096;
constexpr double kOutputGainSteps = 256.0;  // per dB

// Uniform in [0, 1), from a fixed seed: the same input gives the same file.
double nextUniform(std::uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return static_cast<double>(state) / 4294967296.0;
}

// A sample narrowed to 24 bits with triangular dither of one step either
// side, in the top 24 bits of an int32 (how both encoders take 24 bits).
std::int32_t toInt24(float sample, std::uint32_t& state) {
  const double dither = nextUniform(state) - nextUniform(state);
  double v = std::nearbyint(static_cast<double>(sample) * kInt24Scale + dither);
  if (v > kInt24Scale - 1.0) v = kInt24Scale - 1.0;
  if (v < -kInt24Scale) v = -kInt24Scale;
  return static_cast<std::int32_t>(v) * 256;
}

bool drainPackets(Encoder& e, std::string& error) {
  for (;;) {
    const int status = avcodec_receive_packet(e.codec, e.packet);
    if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
    if (status < 0) {
      error = mediaError("cannot encode", status);
      return false;
    }
    e.packet->stream_index = 0;
    av_packet_rescale_ts(e.packet, e.codec->time_base, e.format->streams[0]->time_base);
    const int written = av_interleaved_write_frame(e.format, e.packet);
    if (written < 0) {
      error = mediaError("cannot write the output", written);
      return false;
    }
  }
}

// Encodes frames [0, n) of waiting.
bool encodeWaiting(Encoder& e, int n, std::string& error) {
  e.frame->nb_samples = n;
  int status = av_frame_make_writable(e.frame);
  if (status < 0) {
    error = mediaError("cannot encode", status);
    return false;
  }
  const std::size_t count = static_cast<std::size_t>(n) * e.channels;
  if (e.integer) {
    auto* out = reinterpret_cast<std::int32_t*>(e.frame->data[0]);
    for (std::size_t i = 0; i < count; ++i) out[i] = toInt24(e.waiting[i], e.ditherState);
  } else if (e.planar) {
    for (int c = 0; c < e.channels; ++c) {
      auto* plane = reinterpret_cast<float*>(e.frame->data[c]);
      for (int i = 0; i < n; ++i)
        plane[i] = e.waiting[static_cast<std::size_t>(i) * e.channels + c];
    }
  } else {
    std::memcpy(e.frame->data[0], e.waiting.data(), count * sizeof(float));
  }
  e.frame->pts = e.pts;
  e.pts += n;
  status = avcodec_send_frame(e.codec, e.frame);
  if (status < 0) {
    error = mediaError("cannot encode", status);
    return false;
  }
  e.waiting.erase(e.waiting.begin(), e.waiting.begin() + static_cast<long>(count));
  return drainPackets(e, error);
}

}  // namespace

bool outputKindFor(const std::string& path, OutputKind& kind) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "wav") {
    kind = OutputKind::wav;
    return true;
  }
  if (extension == "flac") {
    kind = OutputKind::flac;
    return true;
  }
  if (extension == "mp3") {
    kind = OutputKind::mp3;
    return true;
  }
  if (extension == "m4a") {
    kind = OutputKind::m4a;
    return true;
  }
  if (extension == "opus") {
    kind = OutputKind::opus;
    return true;
  }
  return false;
}

bool isLossy(OutputKind kind) {
  return kind == OutputKind::mp3 || kind == OutputKind::m4a || kind == OutputKind::opus;
}

bool hasOutputGain(OutputKind kind) { return kind == OutputKind::opus; }

double writableOutputGain(double gainDb) {
  return std::floor(gainDb * kOutputGainSteps) / kOutputGainSteps;
}

int requiredRate(OutputKind kind) { return kind == OutputKind::opus ? 48000 : 0; }

bool openEncoder(Encoder& e, const std::string& path, OutputKind kind, bool asFloat, int rate,
                 int channels, std::string& error, double outputGainDb) {
  // Container, encoder and bit rate (per channel, for the lossy ones).
  const char* muxer = "flac";
  const char* encoderName = "flac";
  std::int64_t bitRatePerChannel = 0;
  switch (kind) {
    case OutputKind::wav:
      muxer = "wav";
      encoderName = asFloat ? "pcm_f32le" : "pcm_s24le";
      break;
    case OutputKind::flac:
      break;
    case OutputKind::mp3:
      muxer = "mp3";
      encoderName = "libmp3lame";
      bitRatePerChannel = 96000;
      break;
    case OutputKind::m4a:
      muxer = "ipod";
      encoderName = "aac";
      bitRatePerChannel = 96000;
      break;
    case OutputKind::opus:
      muxer = "opus";
      encoderName = "libopus";
      bitRatePerChannel = 64000;
      break;
  }
  e.integer = kind == OutputKind::flac || (kind == OutputKind::wav && !asFloat);
  e.channels = channels;

  int status = avformat_alloc_output_context2(&e.format, nullptr, muxer, path.c_str());
  const AVCodec* encoder = avcodec_find_encoder_by_name(encoderName);
  if (status < 0 || encoder == nullptr) {
    error = "this build of the FFmpeg libraries cannot write that format";
    return false;
  }
  AVStream* stream = avformat_new_stream(e.format, nullptr);
  e.codec = avcodec_alloc_context3(encoder);
  if (stream == nullptr || e.codec == nullptr) {
    error = "out of memory";
    return false;
  }
  e.codec->sample_rate = rate;
  e.codec->sample_fmt = e.integer ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_FLT;
  if (!e.integer && encoder->sample_fmts != nullptr) {
    // Float, interleaved if the encoder takes it, else planar.
    bool interleaved = false;
    for (const AVSampleFormat* f = encoder->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
      interleaved = interleaved || *f == AV_SAMPLE_FMT_FLT;
    }
    e.planar = !interleaved;
    e.codec->sample_fmt = interleaved ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
  }
  if (bitRatePerChannel > 0) e.codec->bit_rate = bitRatePerChannel * channels;
  if (e.integer) e.codec->bits_per_raw_sample = 24;
  av_channel_layout_default(&e.codec->ch_layout, channels);
  e.codec->time_base = AVRational{1, rate};
  if (e.format->oformat->flags & AVFMT_GLOBALHEADER) e.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  status = avcodec_open2(e.codec, encoder, nullptr);
  if (status < 0) {
    error = mediaError("cannot open the encoder", status);
    return false;
  }
  status = avcodec_parameters_from_context(stream->codecpar, e.codec);
  stream->time_base = e.codec->time_base;
  if (status >= 0 && hasOutputGain(kind) && outputGainDb != 0) {
    // The identification header the muxer writes as it is: bytes 16 and 17
    // hold the output gain, a signed little-endian count of 1/256 dB.
    AVCodecParameters* p = stream->codecpar;
    const double steps = writableOutputGain(outputGainDb) * kOutputGainSteps;
    if (p->extradata == nullptr || p->extradata_size < 19 ||
        std::memcmp(p->extradata, "OpusHead", 8) != 0 || !(steps >= -32768 && steps <= 32767)) {
      error = "cannot set the output gain";
      return false;
    }
    const auto value = static_cast<std::uint16_t>(static_cast<std::int16_t>(steps));
    p->extradata[16] = static_cast<std::uint8_t>(value & 0xFF);
    p->extradata[17] = static_cast<std::uint8_t>(value >> 8);
  }
  if (status >= 0) status = avio_open(&e.format->pb, path.c_str(), AVIO_FLAG_WRITE);
  if (status < 0) {
    error = mediaError("cannot create the output", status);
    return false;
  }
  status = avformat_write_header(e.format, nullptr);
  if (status < 0) {
    error = mediaError("cannot write the output", status);
    return false;
  }
  e.headerWritten = true;
  e.frameSize = e.codec->frame_size > 0 ? e.codec->frame_size : kDefaultFrameSize;
  e.frame = av_frame_alloc();
  e.packet = av_packet_alloc();
  if (e.frame == nullptr || e.packet == nullptr) {
    error = "out of memory";
    return false;
  }
  e.frame->format = e.codec->sample_fmt;
  e.frame->sample_rate = rate;
  e.frame->nb_samples = e.frameSize;
  av_channel_layout_copy(&e.frame->ch_layout, &e.codec->ch_layout);
  status = av_frame_get_buffer(e.frame, 0);
  if (status < 0) {
    error = mediaError("cannot encode", status);
    return false;
  }
  return true;
}

bool writeFrames(Encoder& e, const float* samples, long long frames, std::string& error) {
  e.waiting.insert(e.waiting.end(), samples, samples + frames * e.channels);
  while (e.waiting.size() >= static_cast<std::size_t>(e.frameSize) * e.channels) {
    if (!encodeWaiting(e, e.frameSize, error)) return false;
  }
  return true;
}

bool finishEncoder(Encoder& e, std::string& error) {
  int left = static_cast<int>(e.waiting.size() / e.channels);
  // An encoder that takes only whole frames gets the last one padded with
  // silence (the container's own end trimming cannot know about it).
  const int capabilities = e.codec->codec->capabilities;
  if (left > 0 && e.codec->frame_size > 0 &&
      (capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) == 0) {
    e.waiting.resize(static_cast<std::size_t>(e.frameSize) * e.channels, 0.0f);
    left = e.frameSize;
  }
  if (left > 0 && !encodeWaiting(e, left, error)) return false;
  int status = avcodec_send_frame(e.codec, nullptr);
  if (status < 0 && status != AVERROR_EOF) {
    error = mediaError("cannot encode", status);
    return false;
  }
  if (!drainPackets(e, error)) return false;
  status = av_write_trailer(e.format);
  if (status < 0) {
    error = mediaError("cannot write the output", status);
    return false;
  }
  status = avio_closep(&e.format->pb);
  if (status < 0) {
    error = mediaError("cannot write the output", status);
    return false;
  }
  return true;
}

void closeEncoder(Encoder& e) {
  av_packet_free(&e.packet);
  av_frame_free(&e.frame);
  avcodec_free_context(&e.codec);
  if (e.format != nullptr) {
    if (e.format->pb != nullptr) avio_closep(&e.format->pb);
    avformat_free_context(e.format);
    e.format = nullptr;
  }
}

}  // namespace vantle
