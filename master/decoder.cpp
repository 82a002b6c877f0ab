#include "master/decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cstring>

#include "master/media_error.h"

namespace vantle {

namespace {

constexpr int kMinRate = 8000;
constexpr int kMaxRate = 384000;
constexpr int kFallbackRate = 48000;

// Converts what the decoder gave (or, with frame null, what the resampler
// still holds) into pending.
bool convert(Decoder& d, const AVFrame* frame, std::string& error) {
  const int in = frame != nullptr ? frame->nb_samples : 0;
  const int room = swr_get_out_samples(d.resampler, in);
  if (room < 0) {
    error = mediaError("cannot convert the audio", room);
    return false;
  }
  // Called only once everything converted before has been handed out.
  d.pending.clear();
  d.pendingRead = 0;
  d.pending.resize(static_cast<std::size_t>(room) * d.outChannels);
  auto* target = reinterpret_cast<std::uint8_t*>(d.pending.data());
  const int got = swr_convert(
      d.resampler, &target, room,
      frame != nullptr ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr, in);
  if (got < 0) {
    error = mediaError("cannot convert the audio", got);
    return false;
  }
  d.pending.resize(static_cast<std::size_t>(got) * d.outChannels);
  return true;
}

// Decodes until pending holds something or the input is exhausted.
bool refill(Decoder& d, std::string& error) {
  while (d.pending.size() == d.pendingRead && !d.flushed) {
    int status = avcodec_receive_frame(d.codec, d.frame);
    if (status == 0) {
      const bool ok = convert(d, d.frame, error);
      av_frame_unref(d.frame);
      if (!ok) return false;
      continue;
    }
    if (status == AVERROR_EOF) {
      if (!convert(d, nullptr, error)) return false;
      d.flushed = true;
      break;
    }
    if (status != AVERROR(EAGAIN)) {
      error = mediaError("cannot decode the audio", status);
      return false;
    }
    status = av_read_frame(d.format, d.packet);
    if (status == AVERROR_EOF) {
      avcodec_send_packet(d.codec, nullptr);  // drain
      continue;
    }
    if (status < 0) {
      error = mediaError("cannot read the input", status);
      return false;
    }
    if (d.packet->stream_index == d.stream) {
      status = avcodec_send_packet(d.codec, d.packet);
      // A damaged packet is skipped, as players do; the rest still decodes.
      if (status < 0 && status != AVERROR(EAGAIN) && status != AVERROR_INVALIDDATA) {
        av_packet_unref(d.packet);
        error = mediaError("cannot decode the audio", status);
        return false;
      }
    }
    av_packet_unref(d.packet);
  }
  return true;
}

}  // namespace

bool openDecoder(Decoder& d, const std::string& path, std::string& error, int rate) {
  int status = avformat_open_input(&d.format, path.c_str(), nullptr, nullptr);
  if (status < 0) {
    error = mediaError(("cannot read " + path + " as audio").c_str(), status);
    return false;
  }
  status = avformat_find_stream_info(d.format, nullptr);
  if (status < 0) {
    error = mediaError(("cannot read " + path).c_str(), status);
    return false;
  }
  const AVCodec* decoder = nullptr;
  d.stream = av_find_best_stream(d.format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (d.stream < 0 || decoder == nullptr) {
    error = path + " holds no audio this program can decode";
    return false;
  }
  const AVStream* stream = d.format->streams[d.stream];
  d.codec = avcodec_alloc_context3(decoder);
  if (d.codec == nullptr || avcodec_parameters_to_context(d.codec, stream->codecpar) < 0 ||
      avcodec_open2(d.codec, decoder, nullptr) < 0) {
    error = "cannot open the audio decoder";
    return false;
  }
  d.facts.format = d.format->iformat->name;
  d.facts.codec = decoder->name;
  d.facts.rate = d.codec->sample_rate;
  d.facts.channels = d.codec->ch_layout.nb_channels;
  if (d.format->duration > 0)
    d.facts.duration = static_cast<double>(d.format->duration) / AV_TIME_BASE;
  if (d.facts.rate <= 0 || d.facts.channels <= 0) {
    error = "the input's audio has no rate or no channels";
    return false;
  }
  d.outRate = d.facts.rate >= kMinRate && d.facts.rate <= kMaxRate ? d.facts.rate : kFallbackRate;
  if (rate > 0) d.outRate = rate;
  d.outChannels = d.facts.channels == 1 ? 1 : 2;

  AVChannelLayout inLayout = {};
  if (d.codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(&inLayout, d.facts.channels);
  } else {
    av_channel_layout_copy(&inLayout, &d.codec->ch_layout);
  }
  AVChannelLayout outLayout = {};
  av_channel_layout_default(&outLayout, d.outChannels);
  status = swr_alloc_set_opts2(&d.resampler, &outLayout, AV_SAMPLE_FMT_FLT, d.outRate, &inLayout,
                               d.codec->sample_fmt, d.facts.rate, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  av_channel_layout_uninit(&outLayout);
  if (status < 0 || swr_init(d.resampler) < 0) {
    error = "cannot set up the audio conversion";
    return false;
  }
  d.frame = av_frame_alloc();
  d.packet = av_packet_alloc();
  if (d.frame == nullptr || d.packet == nullptr) {
    error = "out of memory";
    return false;
  }
  return true;
}

long long readFrames(Decoder& d, float* out, long long frames, std::string& error) {
  long long done = 0;
  while (done < frames) {
    if (!refill(d, error)) return -1;
    const std::size_t available = (d.pending.size() - d.pendingRead) / d.outChannels;
    if (available == 0) break;
    const auto n = static_cast<std::size_t>(
        std::min<long long>(frames - done, static_cast<long long>(available)));
    std::memcpy(out + done * d.outChannels, d.pending.data() + d.pendingRead,
                n * d.outChannels * sizeof(float));
    d.pendingRead += n * d.outChannels;
    done += static_cast<long long>(n);
  }
  return done;
}

void closeDecoder(Decoder& d) {
  av_packet_free(&d.packet);
  av_frame_free(&d.frame);
  swr_free(&d.resampler);
  avcodec_free_context(&d.codec);
  avformat_close_input(&d.format);
}

}  // namespace vantle
