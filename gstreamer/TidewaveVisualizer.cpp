#include "TidewaveVisualizer.h"

#include "FrameCadence.h"
#include "engine/Analysis.h"
#include "engine/FrameEngine.h"
#include "output/Scaler.h"

#include <gst/audio/audio.h>
#include <gst/pbutils/gstaudiovisualizer.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

GST_DEBUG_CATEGORY_EXTERN(tidewave_debug);
#define GST_CAT_DEFAULT tidewave_debug

namespace tw::gst {
namespace {

constexpr int kDefaultWidth = 640, kDefaultHeight = 480;
constexpr int kDefaultFps = 60;
constexpr int kMinFrame = 8, kMaxFrameWidth = 7680, kMaxFrameHeight = 4320;
constexpr int kMaxVideo = 16384;
// Samples converted at a time.
constexpr int kChunk = 4096;

enum Property { kPropMode = 1, kPropPersistence, kPropFrameSize, kPropVideoSize, kPropFit, kPropScale };

struct ClassData {
  const ElementEntry* entry;
  const HostDirs* dirs;
};

// Settings, read and written under the object lock; the running pipeline
// reads them when it starts (every property is mutable in READY at most).
struct Settings {
  int mode = 8;  // 8 or 32
  float persistence = 0;
  int frameWidth = kDefaultWidth, frameHeight = kDefaultHeight;
  int videoWidth = 0, videoHeight = 0;  // 0: the frame's
  Fit fit = Fit::Contain;
  ScaleFilter scale = ScaleFilter::Nearest;
};

// What the streaming thread owns (and the state changes, while it is
// stopped).
struct Stream {
  std::unique_ptr<AddonFile> addon;
  FilterInfo info;
  FrameEngine engine;
  Scaler out;

  bool audioSet = false;
  GstAudioInfo audio;
  bool videoSet = false;
  GstVideoInfo video;
  GstSegment segment;
  std::unique_ptr<Analyzer> analyzer;
  std::unique_ptr<FrameCadence> cadence;
  bool discont = true;  // the next buffer sent starts a new stretch
  SoundFrame sound;
  std::vector<float> left = std::vector<float>(kChunk), right = std::vector<float>(kChunk);
  GstBufferPool* pool = nullptr;
  uint64_t processed = 0, dropped = 0;
};

}  // namespace
}  // namespace tw::gst

struct TwVisualizer {
  GstAudioVisualizer parent;
  GstPad* sinkpad;
  GstPad* srcpad;
  tw::gst::Settings* settings;  // under the object lock
  tw::gst::Stream* stream;
  // Under the object lock: QoS, and what the source pad answers.
  GstClockTime earliest;
  double proportion;
  GstClockTime frameDuration;
  GstClockTime latency;  // ours: the analysis' reach after a frame's time
};

struct TwVisualizerClass {
  GstAudioVisualizerClass parent_class;
  const tw::gst::ClassData* data;
};

namespace tw::gst {
namespace {

GstElementClass* gParentClass = nullptr;

TwVisualizer* self(gpointer p) { return reinterpret_cast<TwVisualizer*>(p); }
const ClassData& classData(TwVisualizer* v) {
  return *reinterpret_cast<TwVisualizerClass*>(G_OBJECT_GET_CLASS(v))->data;
}

GType modeType() {
  static GType type = 0;
  static std::once_flag once;
  std::call_once(once, [] {
    static const GEnumValue values[] = {
        {8, "8-bit indexed frames, shown through the palette", "8"},
        {32, "32-bit frames", "32"},
        {0, nullptr, nullptr},
    };
    type = g_enum_register_static("TidewavePixelMode", values);
  });
  return type;
}

GType scaleType() {
  static GType type = 0;
  static std::once_flag once;
  std::call_once(once, [] {
    static const GEnumValue values[] = {
        {int(ScaleFilter::Nearest), "each video pixel one frame pixel (crisp)", "nearest"},
        {int(ScaleFilter::Smooth), "a tent filter (soft)", "smooth"},
        {0, nullptr, nullptr},
    };
    type = g_enum_register_static("TidewaveScale", values);
  });
  return type;
}

GType fitType() {
  static GType type = 0;
  static std::once_flag once;
  std::call_once(once, [] {
    static const GEnumValue values[] = {
        {int(Fit::Contain), "the whole frame inside the video, black borders", "contain"},
        {int(Fit::Cover), "the video filled, the frame cropped", "cover"},
        {int(Fit::Stretch), "the frame stretched to the video", "stretch"},
        {0, nullptr, nullptr},
    };
    type = g_enum_register_static("TidewaveFit", values);
  });
  return type;
}

// "WIDTHxHEIGHT" within the bounds; false on anything else.
bool parseSize(const char* text, int minW, int maxW, int minH, int maxH, int* w, int* h) {
  if (text == nullptr) return false;
  int a = 0, b = 0, used = 0;
  if (std::sscanf(text, "%dx%d%n", &a, &b, &used) != 2 || text[used] != '\0') return false;
  if (a < minW || a > maxW || b < minH || b > maxH) return false;
  *w = a;
  *h = b;
  return true;
}

std::string sizeText(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

// ---- properties ------------------------------------------------------------

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  TwVisualizer* v = self(object);
  GST_OBJECT_LOCK(v);
  Settings& s = *v->settings;
  switch (id) {
    case kPropMode:
      s.mode = g_value_get_enum(value);
      break;
    case kPropPersistence:
      s.persistence = g_value_get_float(value);
      break;
    case kPropFrameSize:
      if (!parseSize(g_value_get_string(value), kMinFrame, kMaxFrameWidth, kMinFrame, kMaxFrameHeight,
                     &s.frameWidth, &s.frameHeight))
        GST_WARNING_OBJECT(v, "frame-size '%s' is not WIDTHxHEIGHT between 8x8 and 7680x4320; kept %dx%d",
                           g_value_get_string(value), s.frameWidth, s.frameHeight);
      break;
    case kPropVideoSize: {
      const char* text = g_value_get_string(value);
      if (text == nullptr || *text == '\0')
        s.videoWidth = s.videoHeight = 0;
      else if (!parseSize(text, 1, kMaxVideo, 1, kMaxVideo, &s.videoWidth, &s.videoHeight))
        GST_WARNING_OBJECT(v, "video-size '%s' is not WIDTHxHEIGHT (or empty); kept the previous one", text);
      break;
    }
    case kPropFit:
      s.fit = Fit(g_value_get_enum(value));
      break;
    case kPropScale:
      s.scale = ScaleFilter(g_value_get_enum(value));
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
  GST_OBJECT_UNLOCK(v);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  TwVisualizer* v = self(object);
  GST_OBJECT_LOCK(v);
  const Settings& s = *v->settings;
  switch (id) {
    case kPropMode:
      g_value_set_enum(value, s.mode);
      break;
    case kPropPersistence:
      g_value_set_float(value, s.persistence);
      break;
    case kPropFrameSize:
      g_value_set_string(value, sizeText(s.frameWidth, s.frameHeight).c_str());
      break;
    case kPropVideoSize:
      g_value_set_string(value, s.videoWidth > 0 ? sizeText(s.videoWidth, s.videoHeight).c_str() : "");
      break;
    case kPropFit:
      g_value_set_enum(value, int(s.fit));
      break;
    case kPropScale:
      g_value_set_enum(value, int(s.scale));
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
  GST_OBJECT_UNLOCK(v);
}

// ---- negotiation -----------------------------------------------------------

void releasePool(Stream& st) {
  if (st.pool == nullptr) return;
  gst_buffer_pool_set_active(st.pool, FALSE);
  gst_object_unref(st.pool);
  st.pool = nullptr;
}

// A pool of our own and system memory, whatever downstream offers: sinks'
// own pools (PipeWire's) have crashed visualisers that wrote into them.
// Downstream's minimum of buffers in flight, alignment and video metadata
// are kept.
bool makePool(TwVisualizer* v, GstCaps* caps) {
  Stream& st = *v->stream;
  releasePool(st);
  GstQuery* query = gst_query_new_allocation(caps, TRUE);
  if (!gst_pad_peer_query(v->srcpad, query)) GST_DEBUG_OBJECT(v, "downstream answered no allocation query");
  guint min = 0;
  if (gst_query_get_n_allocation_pools(query) > 0)
    gst_query_parse_nth_allocation_pool(query, 0, nullptr, nullptr, &min, nullptr);
  GstAllocationParams params;
  gst_allocation_params_init(&params);
  if (gst_query_get_n_allocation_params(query) > 0) {
    GstAllocator* theirs = nullptr;
    gst_query_parse_nth_allocation_param(query, 0, &theirs, &params);
    if (theirs) gst_object_unref(theirs);
  }
  const bool meta = gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
  gst_query_unref(query);

  GstBufferPool* pool = gst_video_buffer_pool_new();
  GstStructure* config = gst_buffer_pool_get_config(pool);
  gst_buffer_pool_config_set_params(config, caps, guint(GST_VIDEO_INFO_SIZE(&st.video)), min, 0);
  gst_buffer_pool_config_set_allocator(config, nullptr, &params);
  if (meta) gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
  if (!gst_buffer_pool_set_config(pool, config) || !gst_buffer_pool_set_active(pool, TRUE)) {
    gst_object_unref(pool);
    return false;
  }
  st.pool = pool;
  return true;
}

// Chooses the video format: downstream's first choice, its open values fixed
// nearest the preferred size (video-size, else the frame's) and 60 frames per
// second.
bool negotiateVideo(TwVisualizer* v) {
  Stream& st = *v->stream;
  int width, height, frameW, frameH;
  Fit fit;
  ScaleFilter scale;
  GST_OBJECT_LOCK(v);
  const Settings& set = *v->settings;
  frameW = set.frameWidth;
  frameH = set.frameHeight;
  width = set.videoWidth > 0 ? set.videoWidth : frameW;
  height = set.videoWidth > 0 ? set.videoHeight : frameH;
  fit = set.fit;
  scale = set.scale;
  GST_OBJECT_UNLOCK(v);

  GstCaps* templ = gst_pad_get_pad_template_caps(v->srcpad);
  GstCaps* caps = gst_pad_peer_query_caps(v->srcpad, templ);
  gst_caps_unref(templ);
  if (caps == nullptr || gst_caps_is_empty(caps)) {
    if (caps) gst_caps_unref(caps);
    GST_WARNING_OBJECT(v, "downstream takes no BGRx video");
    return false;
  }
  caps = gst_caps_make_writable(gst_caps_truncate(caps));
  GstStructure* s = gst_caps_get_structure(caps, 0);
  gst_structure_fixate_field_nearest_int(s, "width", width);
  gst_structure_fixate_field_nearest_int(s, "height", height);
  gst_structure_fixate_field_nearest_fraction(s, "framerate", kDefaultFps, 1);
  if (gst_structure_has_field(s, "pixel-aspect-ratio"))
    gst_structure_fixate_field_nearest_fraction(s, "pixel-aspect-ratio", 1, 1);
  caps = gst_caps_fixate(caps);
  GstVideoInfo info;
  if (!gst_video_info_from_caps(&info, caps) || GST_VIDEO_INFO_FPS_N(&info) <= 0 ||
      GST_VIDEO_INFO_FPS_D(&info) <= 0) {
    GST_WARNING_OBJECT(v, "cannot draw at %" GST_PTR_FORMAT, caps);
    gst_caps_unref(caps);
    return false;
  }
  GST_DEBUG_OBJECT(v, "video: %" GST_PTR_FORMAT, caps);
  st.video = info;
  st.videoSet = true;
  GST_OBJECT_LOCK(v);
  v->frameDuration =
      gst_util_uint64_scale_int(GST_SECOND, GST_VIDEO_INFO_FPS_D(&info), GST_VIDEO_INFO_FPS_N(&info));
  GST_OBJECT_UNLOCK(v);
  FrameGeometry g = st.engine.running() ? st.engine.geometry() : FrameGeometry{frameW, frameH, 2, 0};
  st.out = Scaler(g, GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info), fit, scale);
  if (st.cadence) st.cadence->setFrameRate(GST_VIDEO_INFO_FPS_N(&info), GST_VIDEO_INFO_FPS_D(&info));
  const bool ok = gst_pad_set_caps(v->srcpad, caps) && makePool(v, caps);
  gst_caps_unref(caps);
  return ok;
}

bool setAudioCaps(TwVisualizer* v, GstCaps* caps) {
  Stream& st = *v->stream;
  GstAudioInfo info;
  if (!gst_audio_info_from_caps(&info, caps)) return false;
  const bool sameRate = st.audioSet && GST_AUDIO_INFO_RATE(&info) == GST_AUDIO_INFO_RATE(&st.audio);
  st.audio = info;
  st.audioSet = true;
  if (!sameRate || !st.analyzer) {
    const int rate = GST_AUDIO_INFO_RATE(&info);
    st.analyzer = std::make_unique<Analyzer>(rate);
    FrameCadence::Rates r{rate, kDefaultFps, 1};
    if (st.videoSet) r = {rate, GST_VIDEO_INFO_FPS_N(&st.video), GST_VIDEO_INFO_FPS_D(&st.video)};
    st.cadence = std::make_unique<FrameCadence>(r, st.analyzer->before(), st.analyzer->after());
    // A frame leaves once the samples after its centre are in.
    GST_OBJECT_LOCK(v);
    v->latency = gst_util_uint64_scale_int_ceil(GST_SECOND, st.analyzer->after(), rate);
    GST_OBJECT_UNLOCK(v);
  }
  return negotiateVideo(v);
}

// ---- drawing ---------------------------------------------------------------

GstClockTime frameTime(const Stream& st, int64_t n) {
  const FrameCadence::Rates& r = st.cadence->rates();
  return gst_util_uint64_scale(guint64(n), GST_SECOND * guint64(r.fpsD), guint64(r.fpsN));
}

// Whether QoS says frame `pts` would come too late to be shown.
bool late(TwVisualizer* v, GstClockTime pts, GstClockTime duration) {
  Stream& st = *v->stream;
  if (st.segment.format != GST_FORMAT_TIME) return false;
  const GstClockTime running = gst_segment_to_running_time(&st.segment, GST_FORMAT_TIME, pts);
  if (!GST_CLOCK_TIME_IS_VALID(running)) return false;
  GST_OBJECT_LOCK(v);
  const GstClockTime earliest = v->earliest;
  const double proportion = v->proportion;
  GST_OBJECT_UNLOCK(v);
  const GstClockTime qostime = running + duration;
  if (!GST_CLOCK_TIME_IS_VALID(earliest) || qostime > earliest) return false;
  ++st.dropped;
  GstMessage* msg =
      gst_message_new_qos(GST_OBJECT(v), FALSE, running,
                          gst_segment_to_stream_time(&st.segment, GST_FORMAT_TIME, pts), pts, duration);
  gst_message_set_qos_values(msg, GST_CLOCK_DIFF(qostime, earliest), proportion, 1000000);
  gst_message_set_qos_stats(msg, GST_FORMAT_BUFFERS, st.processed, st.dropped);
  gst_element_post_message(GST_ELEMENT(v), msg);
  return true;
}

// Draws and sends every frame that is due.
GstFlowReturn drawDue(TwVisualizer* v) {
  Stream& st = *v->stream;
  FrameCadence::Due due;
  while (st.cadence->due(&due)) {
    const GstClockTime pts = frameTime(st, due.index);
    const GstClockTime duration = frameTime(st, due.index + 1) - pts;
    // A late frame is not drawn; the picture still fades once for it, so the
    // frames after it look as they would have (less what it would have
    // drawn), and each keeps its frame count.
    if (late(v, pts, duration)) {
      GST_DEBUG_OBJECT(v, "frame %" G_GINT64_FORMAT " late: dropped", due.index);
      st.engine.skip();
      st.cadence->advance();
      continue;
    }
    st.analyzer->analyse(due.window, due.centre, &st.sound);
    st.engine.draw(st.sound, int32(due.index));
    ++st.processed;
    st.cadence->advance();

    GstBuffer* out = nullptr;
    GstFlowReturn ret = gst_buffer_pool_acquire_buffer(st.pool, &out, nullptr);
    if (ret != GST_FLOW_OK) return ret;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &st.video, out, GST_MAP_WRITE)) {
      gst_buffer_unref(out);
      GST_ELEMENT_ERROR(v, RESOURCE, WRITE, ("cannot write a video frame"), (nullptr));
      return GST_FLOW_ERROR;
    }
    st.out.scale(st.engine.frame(), st.engine.palette32(),
                 static_cast<uint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                 size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0)));
    gst_video_frame_unmap(&frame);
    GST_BUFFER_PTS(out) = pts;
    GST_BUFFER_DTS(out) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(out) = duration;
    GST_BUFFER_OFFSET(out) = guint64(due.index);
    GST_BUFFER_OFFSET_END(out) = guint64(due.index + 1);
    if (st.discont) {
      GST_BUFFER_FLAG_SET(out, GST_BUFFER_FLAG_DISCONT);
      st.discont = false;
    }
    ret = gst_pad_push(v->srcpad, out);
    if (ret != GST_FLOW_OK) return ret;
  }
  return GST_FLOW_OK;
}

// Feeds samples [at, at + count) (interleaved `data`, or silence when null)
// to the cadence, drawing what becomes due.
GstFlowReturn feed(TwVisualizer* v, int64_t at, const uint8* data, int64_t count) {
  Stream& st = *v->stream;
  const int channels = GST_AUDIO_INFO_CHANNELS(&st.audio);
  const bool isFloat = GST_AUDIO_INFO_FORMAT(&st.audio) == GST_AUDIO_FORMAT_F32LE;
  for (int64_t done = 0; done < count;) {
    const int n = int(std::min<int64_t>(kChunk, count - done));
    float* l = st.left.data();
    float* r = st.right.data();
    if (data != nullptr) {
      // Levels as the file decoder gives them: 16-bit s is float(s), float v
      // is v × 32768 within the 16-bit range, NaN silence.
      const size_t first = size_t(done) * size_t(channels);
      if (isFloat) {
        const auto* f = reinterpret_cast<const float*>(data) + first;
        auto level = [](float x) { return x == x ? std::clamp(x * 32768.0f, -32768.0f, 32767.0f) : 0.0f; };
        for (int i = 0; i < n; ++i) {
          l[i] = level(f[size_t(i) * size_t(channels)]);
          r[i] = channels > 1 ? level(f[size_t(i) * size_t(channels) + 1]) : l[i];
        }
      } else {
        const auto* s = reinterpret_cast<const int16_t*>(data) + first;
        for (int i = 0; i < n; ++i) {
          l[i] = float(s[size_t(i) * size_t(channels)]);
          r[i] = channels > 1 ? float(s[size_t(i) * size_t(channels) + 1]) : l[i];
        }
      }
    }
    for (int w = 0; w < n;) {
      const int took =
          st.cadence->write(at + done + w, data ? l + w : nullptr, data ? r + w : nullptr, n - w);
      w += took;
      const int64_t before = st.cadence->next();
      const GstFlowReturn ret = drawDue(v);
      if (ret != GST_FLOW_OK) return ret;
      if (took == 0 && st.cadence->next() == before) {
        GST_ELEMENT_ERROR(v, STREAM, FAILED, ("the sample store is full and no frame is due"), (nullptr));
        return GST_FLOW_ERROR;
      }
    }
    done += n;
  }
  return GST_FLOW_OK;
}

int64_t samplePosition(const Stream& st, GstClockTime t) {
  return int64_t(gst_util_uint64_scale_round(t, guint64(GST_AUDIO_INFO_RATE(&st.audio)), GST_SECOND));
}

// Where samples stamped `pts` lie: the stream's end when they follow it
// within 40 ms (timestamps jitter), else where the stamp says.
int64_t positionOf(TwVisualizer* v, GstClockTime pts, bool discont) {
  Stream& st = *v->stream;
  FrameCadence& c = *st.cadence;
  if (!c.started()) {
    const int64_t at = GST_CLOCK_TIME_IS_VALID(pts) ? samplePosition(st, pts) : 0;
    const bool timed = st.segment.format == GST_FORMAT_TIME && GST_CLOCK_TIME_IS_VALID(st.segment.start);
    const int64_t from = timed ? samplePosition(st, st.segment.start) : at;
    c.start(at, from);
    st.discont = true;
    return at;
  }
  if (!GST_CLOCK_TIME_IS_VALID(pts)) return c.end();
  const int64_t at = samplePosition(st, pts);
  const int64_t tolerance = GST_AUDIO_INFO_RATE(&st.audio) / 25;
  if (!discont && std::llabs(at - c.end()) <= tolerance) return c.end();
  if (at != c.end())
    GST_DEBUG_OBJECT(v, "resync: samples at %" G_GINT64_FORMAT ", expected %" G_GINT64_FORMAT, at, c.end());
  return at;
}

GstFlowReturn chain(GstPad*, GstObject* parent, GstBuffer* buffer) {
  TwVisualizer* v = self(parent);
  Stream& st = *v->stream;
  if (gst_pad_check_reconfigure(v->srcpad) && st.audioSet && !negotiateVideo(v)) {
    gst_pad_mark_reconfigure(v->srcpad);
    gst_buffer_unref(buffer);
    return GST_PAD_IS_FLUSHING(v->srcpad) ? GST_FLOW_FLUSHING : GST_FLOW_NOT_NEGOTIATED;
  }
  if (!st.audioSet || !st.videoSet || !st.cadence || st.pool == nullptr) {
    gst_buffer_unref(buffer);
    return GST_FLOW_NOT_NEGOTIATED;
  }
  if (!st.engine.running()) {
    gst_buffer_unref(buffer);
    GST_ELEMENT_ERROR(v, CORE, STATE_CHANGE, ("the filter is not running"), (nullptr));
    return GST_FLOW_ERROR;
  }
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    gst_buffer_unref(buffer);
    GST_ELEMENT_ERROR(v, STREAM, DECODE, ("cannot read an audio buffer"), (nullptr));
    return GST_FLOW_ERROR;
  }
  const int64_t count = int64_t(map.size) / GST_AUDIO_INFO_BPF(&st.audio);
  const int64_t at =
      positionOf(v, GST_BUFFER_PTS(buffer), GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT));
  const GstFlowReturn ret = feed(v, at, map.data, count);
  gst_buffer_unmap(buffer, &map);
  gst_buffer_unref(buffer);
  return ret;
}

// The end of a stretch of sound: the frames up to its end are drawn, the rest
// of each analysis silence.
GstFlowReturn finishStream(TwVisualizer* v) {
  Stream& st = *v->stream;
  if (!st.cadence || !st.cadence->started()) return GST_FLOW_OK;
  st.cadence->finish();
  GstFlowReturn ret = GST_FLOW_OK;
  if (st.engine.running() && st.pool != nullptr) ret = drawDue(v);
  st.cadence->restart();
  return ret;
}

void resetQos(TwVisualizer* v) {
  GST_OBJECT_LOCK(v);
  v->earliest = GST_CLOCK_TIME_NONE;
  v->proportion = 1.0;
  GST_OBJECT_UNLOCK(v);
}

gboolean sinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  TwVisualizer* v = self(parent);
  Stream& st = *v->stream;
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
      GstCaps* caps;
      gst_event_parse_caps(event, &caps);
      const bool ok = setAudioCaps(v, caps);
      gst_event_unref(event);
      return ok;
    }
    case GST_EVENT_SEGMENT: {
      // A new timeline: what the old one still owes is drawn first.
      finishStream(v);
      gst_event_copy_segment(event, &st.segment);
      return gst_pad_push_event(v->srcpad, event);
    }
    case GST_EVENT_GAP: {
      // Silence for the gap's span, drawn as frames.
      GstClockTime ts, duration;
      gst_event_parse_gap(event, &ts, &duration);
      gst_event_unref(event);
      if (!st.cadence || !st.videoSet || st.pool == nullptr || !GST_CLOCK_TIME_IS_VALID(ts) ||
          !GST_CLOCK_TIME_IS_VALID(duration) || !st.engine.running())
        return TRUE;
      const int64_t at = positionOf(v, ts, false);
      const int64_t end = samplePosition(st, ts + duration);
      feed(v, at, nullptr, end - at);
      return TRUE;
    }
    case GST_EVENT_EOS:
      finishStream(v);
      return gst_pad_push_event(v->srcpad, event);
    case GST_EVENT_FLUSH_STOP:
      if (st.cadence) st.cadence->restart();
      gst_segment_init(&st.segment, GST_FORMAT_UNDEFINED);
      resetQos(v);
      return gst_pad_push_event(v->srcpad, event);
    default:
      return gst_pad_event_default(pad, parent, event);
  }
}

gboolean srcEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  TwVisualizer* v = self(parent);
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_QOS: {
      double proportion;
      GstClockTimeDiff diff;
      GstClockTime timestamp;
      gst_event_parse_qos(event, nullptr, &proportion, &diff, &timestamp);
      GST_OBJECT_LOCK(v);
      const GstClockTime frame = v->frameDuration;
      v->proportion = proportion;
      // Late: the next frame worth drawing is about twice the lateness on
      // (as GStreamer's QoS design suggests); early: the frame is fine.
      v->earliest = diff >= 0 ? timestamp + std::min<GstClockTime>(2 * GstClockTime(diff), GST_SECOND) + frame
                              : timestamp + diff;
      GST_OBJECT_UNLOCK(v);
      return gst_pad_push_event(v->sinkpad, event);
    }
    case GST_EVENT_RECONFIGURE:
      // Handled by the next buffer (the pad is marked); nothing upstream
      // depends on our video format.
      gst_event_unref(event);
      return TRUE;
    default:
      return gst_pad_event_default(pad, parent, event);
  }
}

gboolean srcQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
  TwVisualizer* v = self(parent);
  if (GST_QUERY_TYPE(query) != GST_QUERY_LATENCY) return gst_pad_query_default(pad, parent, query);
  if (!gst_pad_peer_query(v->sinkpad, query)) return FALSE;
  GST_OBJECT_LOCK(v);
  const GstClockTime ours = v->latency;
  GST_OBJECT_UNLOCK(v);
  gboolean live;
  GstClockTime min, max;
  gst_query_parse_latency(query, &live, &min, &max);
  min += ours;
  if (GST_CLOCK_TIME_IS_VALID(max)) max += ours;
  gst_query_set_latency(query, live, min, max);
  return TRUE;
}

// ---- lifecycle -------------------------------------------------------------

bool startFilter(TwVisualizer* v) {
  Stream& st = *v->stream;
  const ClassData& data = classData(v);
  GST_OBJECT_LOCK(v);
  const Settings s = *v->settings;
  GST_OBJECT_UNLOCK(v);
  st.addon = std::make_unique<AddonFile>(data.entry->addonPath);
  st.info = FilterInfo{};
  st.info.addon = st.addon.get();
  st.info.index = data.entry->index;
  st.info.name = data.entry->name;
  st.info.modes = data.entry->modes;
  const FrameGeometry g{s.frameWidth, s.frameHeight, s.mode == 32 ? 2 : 1, 0};
  if ((data.entry->modes & g.pixelMode) == 0) {
    GST_ELEMENT_ERROR(v, LIBRARY, SETTINGS,
                      ("filter \"%s\" does not draw %d-bit frames: set mode=%d", data.entry->name.c_str(),
                       s.mode, s.mode == 32 ? 8 : 32),
                      (nullptr));
    return false;
  }
  std::string error;
  if (!st.engine.start({&st.info}, *data.dirs, g, s.persistence, &error)) {
    GST_ELEMENT_ERROR(v, LIBRARY, INIT, ("%s", error.c_str()), ("add-on %s", data.entry->addonPath.c_str()));
    st.addon.reset();
    return false;
  }
  return true;
}

void stopStream(TwVisualizer* v) {
  Stream& st = *v->stream;
  st.engine.stop();
  releasePool(st);
  st.addon.reset();
  st.cadence.reset();
  st.analyzer.reset();
  st.audioSet = st.videoSet = false;
  gst_segment_init(&st.segment, GST_FORMAT_UNDEFINED);
  st.processed = st.dropped = 0;
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition) {
  TwVisualizer* v = self(element);
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    resetQos(v);
    gst_segment_init(&v->stream->segment, GST_FORMAT_UNDEFINED);
    if (!startFilter(v)) return GST_STATE_CHANGE_FAILURE;
  }
  const GstStateChangeReturn ret = gParentClass->change_state(element, transition);
  if (ret == GST_STATE_CHANGE_FAILURE && transition == GST_STATE_CHANGE_READY_TO_PAUSED) stopStream(v);
  // The streaming thread has stopped once the pads are deactivated.
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) stopStream(v);
  return ret;
}

// ---- types -----------------------------------------------------------------

void instanceInit(GTypeInstance* instance, gpointer gClass) {
  TwVisualizer* v = self(instance);
  v->settings = new Settings;
  v->stream = new Stream;
  v->earliest = GST_CLOCK_TIME_NONE;
  v->proportion = 1.0;
  v->frameDuration = GST_SECOND / kDefaultFps;
  v->latency = 0;
  gst_segment_init(&v->stream->segment, GST_FORMAT_UNDEFINED);
  // The base class made the pads from our templates; its streaming gives
  // way to ours.
  v->sinkpad = gst_element_get_static_pad(GST_ELEMENT(v), "sink");
  v->srcpad = gst_element_get_static_pad(GST_ELEMENT(v), "src");
  gst_pad_set_chain_function(v->sinkpad, chain);
  gst_pad_set_event_function(v->sinkpad, sinkEvent);
  gst_pad_set_event_function(v->srcpad, srcEvent);
  gst_pad_set_query_function(v->srcpad, srcQuery);
  // Defaults: the filter's own mode (8-bit when it draws it) and hostFactor.
  // (gClass is the class of the type made, ours or a filter's.)
  auto* klass = static_cast<TwVisualizerClass*>(gClass);
  if (klass->data != nullptr) {
    v->settings->mode = (klass->data->entry->modes & 1) ? 8 : 32;
    v->settings->persistence = std::clamp(klass->data->entry->hostFactor, 0.0f, 1.0f);
  }
}

void constructed(GObject* object) {
  G_OBJECT_CLASS(gParentClass)->constructed(object);
  // The engine fades; the base class's own shading would fade twice (and
  // our streaming never calls it; this keeps the property honest).
  g_object_set(object, "shader", 0, NULL);
}

void finalize(GObject* object) {
  TwVisualizer* v = self(object);
  delete v->stream;
  delete v->settings;
  gst_object_unref(v->sinkpad);
  gst_object_unref(v->srcpad);
  G_OBJECT_CLASS(gParentClass)->finalize(object);
}

void baseClassInit(gpointer klass, gpointer) {
  gParentClass = GST_ELEMENT_CLASS(g_type_class_peek_parent(klass));
  auto* gobject = G_OBJECT_CLASS(klass);
  auto* element = GST_ELEMENT_CLASS(klass);
  gobject->constructed = constructed;
  gobject->finalize = finalize;
  element->change_state = changeState;
  GstCaps* sink = gst_caps_from_string(
      "audio/x-raw, format=(string){ S16LE, F32LE }, layout=(string)interleaved, "
      "rate=(int)[ 1, 2147483647 ], channels=(int)1; "
      "audio/x-raw, format=(string){ S16LE, F32LE }, layout=(string)interleaved, "
      "rate=(int)[ 1, 2147483647 ], channels=(int)2, channel-mask=(bitmask)0x3");
  GstCaps* src = gst_caps_from_string(
      "video/x-raw, format=(string)BGRx, width=(int)[ 1, 16384 ], height=(int)[ 1, 16384 ], "
      "framerate=(fraction)[ 1/2147483647, 2147483647/1 ], pixel-aspect-ratio=(fraction)1/1");
  gst_element_class_add_pad_template(element,
                                     gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, sink));
  gst_element_class_add_pad_template(element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, src));
  gst_caps_unref(sink);
  gst_caps_unref(src);
}

GType baseType() {
  static GType type = 0;
  static std::once_flag once;
  std::call_once(once, [] {
    GTypeInfo info{};
    info.class_size = sizeof(TwVisualizerClass);
    info.class_init = baseClassInit;
    info.instance_size = sizeof(TwVisualizer);
    info.instance_init = instanceInit;
    type = g_type_register_static(GST_TYPE_AUDIO_VISUALIZER, "GstTidewaveVisualizer", &info,
                                  G_TYPE_FLAG_ABSTRACT);
  });
  return type;
}

void filterClassInit(gpointer klass, gpointer classData) {
  auto* c = static_cast<TwVisualizerClass*>(klass);
  const auto* data = static_cast<const ClassData*>(classData);
  c->data = data;
  const ElementEntry& e = *data->entry;
  auto* gobject = G_OBJECT_CLASS(klass);
  // GObject does not pass these two on to subclasses: each class installing
  // properties names its own.
  gobject->set_property = setProperty;
  gobject->get_property = getProperty;
  const auto flags = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);
  g_object_class_install_property(
      gobject, kPropMode,
      g_param_spec_enum("mode", "Pixel mode",
                        "8: indexed frames shown through the palette; 32: 32-bit frames (default: 8 when the "
                        "filter draws it)",
                        modeType(), (e.modes & 1) ? 8 : 32, flags));
  g_object_class_install_property(
      gobject, kPropPersistence,
      g_param_spec_float(
          "persistence", "Persistence",
          "Share of each colour of the previous frame kept under the next (default: the filter's "
          "hostFactor)",
          0.0f, 1.0f, std::clamp(e.hostFactor, 0.0f, 1.0f), flags));
  g_object_class_install_property(
      gobject, kPropFrameSize,
      g_param_spec_string("frame-size", "Frame size", "The filter's frame, WIDTHxHEIGHT (8x8 to 7680x4320)",
                          "640x480", flags));
  g_object_class_install_property(
      gobject, kPropVideoSize,
      g_param_spec_string(
          "video-size", "Video size",
          "Size of the video when downstream leaves it open, WIDTHxHEIGHT (empty: the frame's)", "", flags));
  g_object_class_install_property(
      gobject, kPropScale,
      g_param_spec_enum("scale", "Scaling", "How the frame is scaled to a video of another size", scaleType(),
                        int(ScaleFilter::Nearest), flags));
  g_object_class_install_property(
      gobject, kPropFit,
      g_param_spec_enum("fit", "Fit", "How the frame fills a video of another size", fitType(),
                        int(Fit::Contain), flags));
  const std::string longName = "Tidewave " + e.name;
  const std::string description = e.info.empty() ? "The Tidewave filter \"" + e.name + "\"" : e.info;
  const std::string author = e.author.empty() ? std::string("unknown") : e.author;
  gst_element_class_set_metadata(GST_ELEMENT_CLASS(klass), longName.c_str(), "Visualization",
                                 description.c_str(), author.c_str());
}

// GType names allow dashes, and factory names are unique.
std::string typeNameFor(const std::string& factory) {
  return "GstTidewave-" + factory.substr(std::string("tidewave-").size());
}

}  // namespace

bool registerVisualizer(GstPlugin* plugin, const ElementEntry* entry, const HostDirs* dirs) {
  const std::string typeName = typeNameFor(entry->factory);
  GType type = g_type_from_name(typeName.c_str());
  if (type == 0) {
    GTypeInfo info{};
    info.class_size = sizeof(TwVisualizerClass);
    info.class_init = filterClassInit;
    info.class_data = new ClassData{entry, dirs};
    info.instance_size = sizeof(TwVisualizer);
    type = g_type_register_static(baseType(), typeName.c_str(), &info, GTypeFlags(0));
  }
  return gst_element_register(plugin, entry->factory.c_str(), GST_RANK_NONE, type);
}

}  // namespace tw::gst
