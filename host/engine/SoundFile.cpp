// openSoundFile: a SoundSource over FFmpeg's demuxers and decoders.
//
// How it keeps time: sample 0 is the first sample of the first frame decoded
// from the start, and that frame's timestamp is the origin. In a sequential
// read the samples are counted; each frame's timestamp only checks the count:
// a frame that starts later than the count by more than the jitter the
// timestamps allow is a lost stretch (filled with silence), one that starts
// earlier overlaps (the overlap is dropped). After a seek there is nothing to
// count from, so the first frame is placed by its timestamp alone.
#include "engine/SoundSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

namespace tw {
namespace {

std::string avError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) < 0) std::snprintf(text, sizeof text, "error %d", code);
  return text;
}

// "1:23.456", or "1:02:03.456" past the hour.
std::string clockText(int64_t sample, int rate) {
  const int64_t ms = rate > 0 ? sample * 1000 / rate : 0;
  const int64_t h = ms / 3600000, m = ms / 60000 % 60, s = ms / 1000 % 60, f = ms % 1000;
  char text[48];
  if (h > 0)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", (long long)h, (long long)m, (long long)s,
                  (long long)f);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", (long long)m, (long long)s, (long long)f);
  return text;
}

std::string whereText(int64_t sample, int rate) {
  return clockText(sample, rate) + " (sample " + std::to_string(sample) + ")";
}

// The host prints problem() itself; the libraries say nothing.
void silenceLibraries() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Weights of input channel `c` in the left and right outputs of the stereo
// mix of a layout of more than two channels.
void downmixWeights(AVChannel c, double* toLeft, double* toRight) {
  constexpr double kSide = 0.7071;  // −3 dB
  *toLeft = *toRight = 0;
  switch (c) {
    case AV_CHAN_FRONT_LEFT:
    case AV_CHAN_STEREO_LEFT:
      *toLeft = 1;
      break;
    case AV_CHAN_FRONT_RIGHT:
    case AV_CHAN_STEREO_RIGHT:
      *toRight = 1;
      break;
    case AV_CHAN_FRONT_CENTER:
    case AV_CHAN_BACK_CENTER:
    case AV_CHAN_TOP_CENTER:
    case AV_CHAN_TOP_FRONT_CENTER:
    case AV_CHAN_TOP_BACK_CENTER:
    case AV_CHAN_BOTTOM_FRONT_CENTER:
      *toLeft = *toRight = kSide;
      break;
    case AV_CHAN_FRONT_LEFT_OF_CENTER:
    case AV_CHAN_BACK_LEFT:
    case AV_CHAN_SIDE_LEFT:
    case AV_CHAN_WIDE_LEFT:
    case AV_CHAN_SURROUND_DIRECT_LEFT:
    case AV_CHAN_TOP_FRONT_LEFT:
    case AV_CHAN_TOP_BACK_LEFT:
    case AV_CHAN_TOP_SIDE_LEFT:
    case AV_CHAN_BOTTOM_FRONT_LEFT:
      *toLeft = kSide;
      break;
    case AV_CHAN_FRONT_RIGHT_OF_CENTER:
    case AV_CHAN_BACK_RIGHT:
    case AV_CHAN_SIDE_RIGHT:
    case AV_CHAN_WIDE_RIGHT:
    case AV_CHAN_SURROUND_DIRECT_RIGHT:
    case AV_CHAN_TOP_FRONT_RIGHT:
    case AV_CHAN_TOP_BACK_RIGHT:
    case AV_CHAN_TOP_SIDE_RIGHT:
    case AV_CHAN_BOTTOM_FRONT_RIGHT:
      *toRight = kSide;
      break;
    default:  // LFE and channels without a place
      break;
  }
}

const std::string kMissing = "part of the stream is missing";
constexpr int64_t kLongestGapSeconds = 60;

class FileSource final : public SoundSource {
 public:
  explicit FileSource(std::string path) : path_(std::move(path)) {
    display_ = path_ == "-" ? "standard input" : "'" + path_ + "'";
  }
  ~FileSource() override {
    swr_free(&swr_);
    av_channel_layout_uninit(&swrLayout_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
  }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  bool open(std::string* error);
  int openDecoder();

  int sampleRate() const override { return rate_; }
  int64_t lengthHint() const override { return length_; }
  bool stereo() const override { return channels_ >= 2; }
  std::string name() const override { return path_; }
  int read(float* left, float* right, int most) override;
  bool seek(int64_t at, std::string* error) override;
  bool canSeek() const override { return seekable_; }
  std::string problem() const override;

 private:
  bool nextFrame();
  bool convertFrame();
  bool place();
  void finish();
  void noteSkip(int64_t at, const std::string& why);
  void restart(int64_t at);
  bool demuxTo(int64_t from);
  bool land(int64_t at, std::string* error);
  int64_t toSample(int64_t ts) const {
    return av_rescale_q_rnd(ts - origin_, timeBase_, AVRational{1, rate_},
                            AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
  }
  // Where the stream stands, for a message; -1 in the run-up to a seek's
  // target, before the first frame has placed it.
  int64_t here() const { return started_ ? next_ : originSet_ && pos_ > 0 ? -1 : pos_; }
  int64_t toTicks(int64_t sample) const {
    return origin_ + av_rescale_q_rnd(sample, AVRational{1, rate_}, timeBase_, AV_ROUND_DOWN);
  }

  std::string path_, display_;
  AVFormatContext* format_ = nullptr;
  const AVCodec* codec_ = nullptr;
  AVCodecContext* decoder_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwrContext* swr_ = nullptr;
  int swrFormat_ = -1;  // what swr_ converts from
  AVChannelLayout swrLayout_{};

  int stream_ = -1;
  AVRational timeBase_{1, 1};
  int rate_ = 0;
  int channels_ = 0;
  int64_t length_ = -1;
  bool lengthTrusted_ = false;  // read from the file, not estimated from its bit rate
  bool seekable_ = false;
  int64_t tick_ = 1;    // one timestamp tick, in samples (rounded up)
  int64_t margin_ = 0;  // samples decoded before a seek's target, for the decoder to settle

  // Time: the origin's timestamp (in the stream's time base), whether frames
  // have usable timestamps, and how far the stream is accounted for.
  int64_t origin_ = 0;
  int64_t startTs_ = AV_NOPTS_VALUE;  // where a rewind seeks to
  bool timed_ = false;
  bool started_ = false;  // a frame was placed since opening or the last seek
  int64_t next_ = 0;      // end of the last placed frame (valid when started_)
  int64_t firstStart_ = 0;
  bool originSet_ = false;

  // The reader: the next sample read() returns, then silence to give before
  // the buffered frame's samples [bufAt_, bufCount_).
  int64_t pos_ = 0;
  int64_t silence_ = 0;
  std::vector<float> left_, right_;
  int bufAt_ = 0, bufCount_ = 0;

  bool draining_ = false;
  bool finished_ = false;
  int readError_ = 0;
  std::string stopReason_;

  // The first skipped stretch and how many there were, and why decoding
  // stopped; problem() makes one line of them.
  int skips_ = 0;
  int64_t firstSkipAt_ = 0, lastSkipAt_ = 0;
  std::string firstSkipWhy_, lastSkipWhy_;
  bool decodedSinceSkip_ = true;
  std::string stopped_;
};

// A fresh decoder, in the state it has at the start of the stream.
int FileSource::openDecoder() {
  avcodec_free_context(&decoder_);
  decoder_ = avcodec_alloc_context3(codec_);
  if (decoder_ == nullptr) return AVERROR(ENOMEM);
  const AVStream* st = format_->streams[stream_];
  int rc = avcodec_parameters_to_context(decoder_, st->codecpar);
  if (rc < 0) return rc;
  // The decoder moves the timestamps of the samples it trims (encoder
  // delay) only when it knows their time base.
  decoder_->pkt_timebase = st->time_base;
  return avcodec_open2(decoder_, codec_, nullptr);
}

bool FileSource::open(std::string* error) {
  silenceLibraries();
  const bool piped = path_ == "-";
  if (!piped) {
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) {
      *error = "audio file " + display_ + " does not exist";
      return false;
    }
  }
  // "file:" keeps a name with a colon from reading as a protocol.
  const std::string url = piped ? "pipe:0" : "file:" + path_;
  int rc = avformat_open_input(&format_, url.c_str(), nullptr, nullptr);
  if (rc == AVERROR_INVALIDDATA) {
    *error =
        "cannot decode " + display_ + ": it is not a sound or video file FFmpeg can read (or it is damaged)";
    return false;
  }
  if (rc < 0) {
    *error = "cannot read " + display_ + ": " + avError(rc);
    return false;
  }
  rc = avformat_find_stream_info(format_, nullptr);
  if (rc < 0) {
    *error = "cannot decode " + display_ + ": " + avError(rc);
    return false;
  }
  const AVCodec* codec = nullptr;
  rc = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (rc == AVERROR_STREAM_NOT_FOUND) {
    *error = display_ + " has no audio stream";
    return false;
  }
  if (rc < 0 || codec == nullptr) {
    int best = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const char* codecName =
        best >= 0 ? avcodec_get_name(format_->streams[best]->codecpar->codec_id) : "unknown";
    *error = "cannot decode " + display_ + ": FFmpeg has no decoder for its sound (" + codecName + ")";
    return false;
  }
  stream_ = rc;
  for (unsigned i = 0; i < format_->nb_streams; ++i)
    if (int(i) != stream_) format_->streams[i]->discard = AVDISCARD_ALL;
  AVStream* st = format_->streams[stream_];
  timeBase_ = st->time_base;

  codec_ = codec;
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (!packet_ || !frame_) {
    *error = "cannot decode " + display_ + ": out of memory";
    return false;
  }
  rc = openDecoder();
  if (rc < 0) {
    *error = "cannot decode " + display_ + ": " + avError(rc);
    return false;
  }
  rate_ = decoder_->sample_rate;
  channels_ = decoder_->ch_layout.nb_channels;
  seekable_ = format_->pb != nullptr && (format_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;
  startTs_ = st->start_time;

  // The first frame fixes the origin, and with it the rate (a decoder may
  // only know the rate once it decodes, e.g. AAC with spectral band
  // replication).
  nextFrame();
  if (!originSet_) {
    const std::string why = problem();
    *error = "cannot decode " + display_ + ": " + (why.empty() ? "its audio stream holds no samples" : why);
    return false;
  }
  if (rate_ < 1000 || rate_ > 384000) {
    *error = "cannot decode " + display_ + ": its sample rate of " + std::to_string(rate_) +
             " Hz is outside 1 kHz to 384 kHz";
    return false;
  }
  if (startTs_ == AV_NOPTS_VALUE || (timed_ && origin_ < startTs_)) startTs_ = timed_ ? origin_ : 0;
  tick_ = std::max<int64_t>(1, av_rescale_q_rnd(1, timeBase_, AVRational{1, rate_}, AV_ROUND_UP));
  margin_ = std::max(rate_ / 5, 4096) +
            (st->codecpar->seek_preroll > 0
                 ? int64_t(st->codecpar->seek_preroll) * rate_ / std::max(1, st->codecpar->sample_rate)
                 : 0);

  if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
    length_ = av_rescale_q(st->duration, timeBase_, AVRational{1, rate_});
  else if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0)
    length_ = av_rescale(format_->duration, rate_, AV_TIME_BASE);
  lengthTrusted_ = length_ >= 0 && format_->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
  return true;
}

int FileSource::read(float* left, float* right, int most) {
  int n = 0;
  while (n < most) {
    if (silence_ > 0) {
      const int k = int(std::min<int64_t>(silence_, most - n));
      std::fill_n(left + n, k, 0.0f);
      std::fill_n(right + n, k, 0.0f);
      silence_ -= k, pos_ += k, n += k;
    } else if (bufAt_ < bufCount_) {
      const int k = std::min(bufCount_ - bufAt_, most - n);
      std::memcpy(left + n, left_.data() + bufAt_, size_t(k) * sizeof(float));
      std::memcpy(right + n, right_.data() + bufAt_, size_t(k) * sizeof(float));
      bufAt_ += k, pos_ += k, n += k;
    } else if (!nextFrame()) {
      break;
    }
  }
  return n;
}

// Decodes until a frame gives samples at or after pos_ (true), or the
// stream ends or stops (false).
bool FileSource::nextFrame() {
  while (!finished_) {
    int rc = avcodec_receive_frame(decoder_, frame_);
    if (rc == 0) {
      bool placed = false;
      if (frame_->sample_rate <= 0) frame_->sample_rate = decoder_->sample_rate;
      if (frame_->sample_rate != rate_ && originSet_) {
        stopReason_ = "the sample rate changes from " + std::to_string(rate_) + " to " +
                      std::to_string(frame_->sample_rate) + " Hz";
        av_frame_unref(frame_);
        finish();
        return false;
      }
      if (!originSet_) {
        rate_ = frame_->sample_rate;
        channels_ = frame_->ch_layout.nb_channels;
      }
      if (convertFrame()) placed = place();
      av_frame_unref(frame_);
      if (placed) return true;
      continue;
    }
    if (rc == AVERROR_EOF) {
      finish();
      return false;
    }
    if (rc != AVERROR(EAGAIN)) {
      noteSkip(here(), avError(rc));
      if (draining_) {
        finish();
        return false;
      }
      continue;
    }
    if (draining_) {  // the decoder wants input after the end: nothing more will come
      finish();
      return false;
    }
    rc = av_read_frame(format_, packet_);
    if (rc == AVERROR(EAGAIN)) continue;
    if (rc < 0) {
      if (rc != AVERROR_EOF) readError_ = rc;
      draining_ = true;
      avcodec_send_packet(decoder_, nullptr);
      continue;
    }
    if (packet_->stream_index == stream_) {
      const int64_t ts = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
      rc = avcodec_send_packet(decoder_, packet_);
      if (rc < 0 && rc != AVERROR(EAGAIN))
        noteSkip(timed_ && started_ && ts != AV_NOPTS_VALUE ? toSample(ts) : here(), avError(rc));
    }
    av_packet_unref(packet_);
  }
  return false;
}

// The decoded frame as planar stereo float in the 16-bit range, into left_
// and right_[0, bufCount_).
bool FileSource::convertFrame() {
  const int count = frame_->nb_samples;
  const AVChannelLayout& layout = frame_->ch_layout;
  const int inChannels = layout.nb_channels;
  if (count <= 0 || inChannels < 1) return false;
  if (swr_ == nullptr || frame_->format != swrFormat_ ||
      av_channel_layout_compare(&layout, &swrLayout_) != 0) {
    swr_free(&swr_);
    av_channel_layout_uninit(&swrLayout_);
    // swresample's own mono-to-stereo and downmix matrices attenuate; ours
    // are given outright. Its layouts only size the matrix.
    AVChannelLayout in{}, out = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_default(&in, inChannels);
    int rc = swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_FLTP, rate_, &in, AVSampleFormat(frame_->format),
                                 rate_, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (rc >= 0 && inChannels != 2) {
      std::vector<double> matrix(size_t(2) * size_t(inChannels), 0.0);
      if (inChannels == 1) {
        matrix[0] = matrix[1] = 1.0;
      } else {
        AVChannelLayout known{};
        if (layout.order == AV_CHANNEL_ORDER_UNSPEC)
          av_channel_layout_default(&known, inChannels);
        else
          av_channel_layout_copy(&known, &layout);
        for (int c = 0; c < inChannels; ++c)
          downmixWeights(av_channel_layout_channel_from_index(&known, unsigned(c)), &matrix[size_t(c)],
                         &matrix[size_t(inChannels + c)]);
        av_channel_layout_uninit(&known);
      }
      rc = swr_set_matrix(swr_, matrix.data(), inChannels);
    }
    if (rc >= 0) rc = swr_init(swr_);
    if (rc < 0) {
      swr_free(&swr_);
      stopReason_ = "cannot convert its samples (" + avError(rc) + ")";
      finish();
      return false;
    }
    swrFormat_ = frame_->format;
    av_channel_layout_copy(&swrLayout_, &layout);
  }
  if (int(left_.size()) < count) {
    left_.resize(size_t(count));
    right_.resize(size_t(count));
  }
  uint8_t* planes[2] = {reinterpret_cast<uint8_t*>(left_.data()), reinterpret_cast<uint8_t*>(right_.data())};
  const int got = swr_convert(swr_, planes, count, const_cast<const uint8_t**>(frame_->extended_data), count);
  if (got <= 0) return false;
  // To the 16-bit range; a NaN from a decoder fed damage becomes silence.
  const auto level = [](float x) { return x == x ? std::clamp(x * 32768.0f, -32768.0f, 32767.0f) : 0.0f; };
  for (int i = 0; i < got; ++i) {
    left_[size_t(i)] = level(left_[size_t(i)]);
    right_[size_t(i)] = level(right_[size_t(i)]);
  }
  bufAt_ = 0;
  bufCount_ = got;
  return true;
}

// Places the converted frame on the time line: silence for a stretch its
// timestamp shows missing, then its samples from pos_ on. False when it gives
// nothing at or after pos_.
bool FileSource::place() {
  const int count = bufCount_;
  bufCount_ = 0;
  const int64_t ts = frame_->pts != AV_NOPTS_VALUE ? frame_->pts : frame_->best_effort_timestamp;
  if (!originSet_) {
    originSet_ = true;
    timed_ = ts != AV_NOPTS_VALUE;
    if (timed_) origin_ = ts;
  }
  int64_t start;
  if (timed_ && ts != AV_NOPTS_VALUE) {
    start = toSample(ts);
    if (started_) {
      // Timestamps jitter by their resolution (Matroska counts
      // milliseconds); a lost packet is at least half a frame.
      const int64_t tolerance = std::max<int64_t>(tick_ + 1, count / 2);
      const int64_t d = start - next_;
      if (d >= -tolerance && d <= tolerance) {
        start = next_;
      } else if ((d > 0 && d > kLongestGapSeconds * int64_t(rate_)) || (d < 0 && -d > rate_)) {
        // Not a lost stretch but timestamps that jump (a joined or broken
        // stream): the count goes on from here.
        origin_ = ts - av_rescale_q(next_, AVRational{1, rate_}, timeBase_);
        start = next_;
      } else if (d > 0) {
        noteSkip(next_, kMissing);
      }
    }
  } else if (started_) {
    start = next_;
  } else if (!timed_) {
    start = 0;  // a stream without timestamps is only ever read from its start
  } else {
    return false;  // after a seek, a frame without a timestamp has no place yet
  }
  const int64_t accounted = started_ ? next_ : pos_;
  const int64_t from = std::max(pos_, accounted);  // the first sample still wanted
  silence_ = std::max<int64_t>(0, start - from);
  bufAt_ = int(std::clamp<int64_t>(from - start, 0, count));
  bufCount_ = count;
  if (!started_) firstStart_ = start;
  next_ = started_ ? std::max(next_, start + count) : start + count;
  started_ = true;
  decodedSinceSkip_ = true;
  return silence_ > 0 || bufAt_ < bufCount_;
}

void FileSource::finish() {
  if (finished_) return;
  finished_ = true;
  const int64_t end = started_ ? next_ : pos_;
  const int64_t tolerance = std::max<int64_t>(rate_ / 10, 2048 + tick_);
  std::string why = stopReason_;
  if (why.empty() && readError_ != 0) why = avError(readError_);
  const bool short_ = lengthTrusted_ && end < length_ - tolerance;
  // Damage that nothing decoded after is where the file broke off.
  const bool brokeOff = skips_ > 0 && !decodedSinceSkip_;
  if (brokeOff) --skips_;
  if (why.empty() && short_)
    why = "the file ends early (it should last " + clockText(length_, rate_) + ")";
  else if (why.empty() && brokeOff)
    why = "the file ends early (" + lastSkipWhy_ + ")";
  if (!why.empty()) stopped_ = "decoding stopped at " + whereText(end, rate_) + ": " + why;
}

// Remembers a skipped stretch for problem(): the first, and how many more
// (errors within a second of the last count as the same stretch).
void FileSource::noteSkip(int64_t at, const std::string& why) {
  if (at < pos_) return;  // the run-up to a seek's target, which nobody reads
  decodedSinceSkip_ = false;
  if (skips_ > 0 && at <= lastSkipAt_ + rate_) {
    if (skips_ == 1 && firstSkipWhy_ == kMissing && why != kMissing) firstSkipWhy_ = why;
    if (lastSkipWhy_ == kMissing) lastSkipWhy_ = why;
    lastSkipAt_ = std::max(lastSkipAt_, at);
    return;
  }
  if (skips_ == 0) firstSkipAt_ = at, firstSkipWhy_ = why;
  ++skips_;
  lastSkipAt_ = at;
  lastSkipWhy_ = why;
}

std::string FileSource::problem() const {
  std::string skipped;
  if (skips_ == 1)
    skipped = "skipped a damaged stretch at " + whereText(firstSkipAt_, rate_) + ": " + firstSkipWhy_;
  else if (skips_ > 1)
    skipped = "skipped " + std::to_string(skips_) + " damaged stretches, the first at " +
              whereText(firstSkipAt_, rate_) + ": " + firstSkipWhy_;
  if (stopped_.empty()) return skipped;
  return skipped.empty() ? stopped_ : stopped_ + "; before that, " + skipped;
}

// Empties the decoder and the reader, which then stands at `at`.
void FileSource::restart(int64_t at) {
  // A new decoder rather than a flushed one: state a flush keeps (the noise
  // generator of AAC's noise substitution) would make what a seek gives
  // depend on what was read before it.
  const int rc = openDecoder();
  silence_ = 0;
  bufAt_ = bufCount_ = 0;
  started_ = false;
  pos_ = at;
  draining_ = finished_ = false;
  readError_ = 0;
  stopReason_.clear();
  if (rc < 0) {
    stopReason_ = "the decoder did not start again after a seek (" + avError(rc) + ")";
    finish();
  }
}

// Moves the demuxer to a packet at or before sample `from` (its start when
// from <= 0).
bool FileSource::demuxTo(int64_t from) {
  // Before the origin too: the packets before it (an encoder's priming)
  // prime the decoder as they did when read from the start.
  const int64_t ts = timed_ ? toTicks(from) : startTs_;
  int rc = avformat_seek_file(format_, stream_, INT64_MIN, ts, ts, 0);
  if (rc < 0) rc = av_seek_frame(format_, stream_, ts, AVSEEK_FLAG_BACKWARD);
  if (rc < 0 && ts != startTs_) rc = av_seek_frame(format_, stream_, startTs_, AVSEEK_FLAG_BACKWARD);
  return rc >= 0;
}

// Decodes up to `at` after a restart or a skip; false when the piece ends
// before it.
bool FileSource::land(int64_t at, std::string* error) {
  if (nextFrame() || (started_ && next_ >= at)) return true;
  const int64_t end = started_ ? next_ : -1;
  *error = "cannot seek to " + clockText(at, rate_) + " in " + display_ + ": " +
           (end >= 0 ? "it ends at " + clockText(end, rate_) : std::string("it ends before that"));
  return false;
}

bool FileSource::seek(int64_t at, std::string* error) {
  if (at < 0) {
    *error = "cannot seek to sample " + std::to_string(at) + " of " + display_ + ": samples start at 0";
    return false;
  }
  if (at == pos_) return true;
  // Close ahead, or on a stream: decode and drop.
  if (at > pos_ && (!seekable_ || at - pos_ <= rate_)) {
    int64_t drop = at - pos_;
    const int64_t quiet = std::min(silence_, drop);
    silence_ -= quiet, drop -= quiet;
    const int buffered = int(std::min<int64_t>(bufCount_ - bufAt_, drop));
    bufAt_ += buffered, drop -= buffered;
    pos_ = at;
    return drop == 0 || land(at, error);
  }
  if (!seekable_) {
    *error = "cannot seek back in " + display_ + ": it is read once, in order";
    return false;
  }
  for (int64_t margin = margin_;; margin *= 4) {
    const int64_t from = timed_ ? at - margin : 0;
    if (!demuxTo(from)) {
      *error = "cannot seek in " + display_ + ": the file does not allow it";
      return false;
    }
    restart(at);
    const bool landed = land(at, error);
    // The demuxer stopped after the target (an estimated index): further back.
    if (started_ && firstStart_ > at && from > 0) continue;
    return landed;
  }
}

}  // namespace

std::unique_ptr<SoundSource> openSoundFile(const std::string& path, std::string* error) {
  auto source = std::make_unique<FileSource>(path);
  if (!source->open(error)) return nullptr;
  return source;
}

}  // namespace tw
