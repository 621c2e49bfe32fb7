#include "live/Sources.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace tw {

namespace {

// What the callbacks fill in, on the one thread that runs the loop.
struct Query {
  std::vector<CaptureSource> sources;
  std::vector<std::string> monitorOf;  // per source, the sink it monitors, or empty
  std::string defaultSink;
  int pending = 0;  // introspection requests not answered yet
  bool failed = false;
};

void onServer(pa_context*, const pa_server_info* info, void* data) {
  auto* q = static_cast<Query*>(data);
  if (info != nullptr && info->default_sink_name != nullptr) q->defaultSink = info->default_sink_name;
  --q->pending;
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* data) {
  auto* q = static_cast<Query*>(data);
  if (eol != 0) {
    if (eol < 0) q->failed = true;
    --q->pending;
    return;
  }
  CaptureSource s;
  s.name = info->name ? info->name : "";
  s.description = info->description ? info->description : "";
  s.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
  q->monitorOf.push_back(s.monitor && info->monitor_of_sink_name ? info->monitor_of_sink_name : "");
  q->sources.push_back(std::move(s));
}

}  // namespace

bool listCaptureSources(std::vector<CaptureSource>* out, std::string* error, double timeoutSeconds) {
  pa_mainloop* loop = pa_mainloop_new();
  pa_context* context = loop ? pa_context_new(pa_mainloop_get_api(loop), "tidewave") : nullptr;
  Query q;
  std::string why;
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  auto timeLeft = [&] { return std::chrono::steady_clock::now() < until; };
  // Runs the loop until `done`, the context fails or the time is up.
  auto run = [&](auto done) {
    while (!done()) {
      const pa_context_state_t state = pa_context_get_state(context);
      if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) return false;
      if (!timeLeft()) return false;
      if (pa_mainloop_prepare(loop, 50000) < 0 || pa_mainloop_poll(loop) < 0 ||
          pa_mainloop_dispatch(loop) < 0)
        return false;
    }
    return true;
  };
  bool ok = context != nullptr &&
            pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
            run([&] { return pa_context_get_state(context) == PA_CONTEXT_READY; });
  if (ok) {
    q.pending = 2;
    pa_operation* a = pa_context_get_server_info(context, onServer, &q);
    pa_operation* b = pa_context_get_source_info_list(context, onSource, &q);
    ok = a != nullptr && b != nullptr && run([&] { return q.pending == 0; }) && !q.failed;
    if (a) pa_operation_unref(a);
    if (b) pa_operation_unref(b);
  }
  if (!ok) {
    const int code = context ? pa_context_errno(context) : PA_ERR_INTERNAL;
    why = timeLeft() ? pa_strerror(code) : "no answer";
  }
  if (context) {
    pa_context_disconnect(context);
    pa_context_unref(context);
  }
  if (loop) pa_mainloop_free(loop);
  if (!ok) {
    *error = "cannot list the sound sources: no sound server (" + why +
             "); start the sound server (PulseAudio) and try again";
    return false;
  }

  for (size_t i = 0; i < q.sources.size(); ++i)
    q.sources[i].isDefault = !q.defaultSink.empty() && q.monitorOf[i] == q.defaultSink;
  std::stable_sort(q.sources.begin(), q.sources.end(), [](const CaptureSource& a, const CaptureSource& b) {
    return std::make_pair(!a.monitor, !a.isDefault) < std::make_pair(!b.monitor, !b.isDefault);
  });
  *out = std::move(q.sources);
  return true;
}

std::string describeSources(const std::vector<CaptureSource>& sources) {
  size_t width = 0;
  for (const CaptureSource& s : sources) width = std::max(width, s.name.size());
  std::string text;
  for (const CaptureSource& s : sources) {
    text += "  " + s.name + std::string(width - s.name.size() + 2, ' ') + s.description;
    if (s.isDefault) text += "  (what --capture alone hears)";
    text += '\n';
  }
  return text.empty() ? "  (none)\n" : text;
}

}  // namespace tw
