// The plugin "tidewave": one element per filter of the add-ons it finds.
//
// Add-ons are looked for in the directories of TIDEWAVE_ADDON_PATH
// (colon-separated) and then the installed add-on directory (in the build
// tree: the build's own). GStreamer is told of both, so that its registry is
// rebuilt when an add-on comes, goes or changes. Scanning touches no add-on
// code in the scanning process (see PluginCatalog); an add-on that fails is
// left out with a warning on the debug category "tidewave".
#include "PluginCatalog.h"
#include "TidewaveVisualizer.h"

#include <dlfcn.h>
#include <gst/gst.h>

#include <cstdlib>
#include <filesystem>
#include <list>
#include <string>

GST_DEBUG_CATEGORY(tidewave_debug);
#define GST_CAT_DEFAULT tidewave_debug

namespace tw::gst {
namespace {

namespace fs = std::filesystem;

// How long one add-on may take to be examined, unless TIDEWAVE_PROBE_TIMEOUT
// (seconds) says otherwise: generous, as a slow disk or a sanitiser build
// loads slowly, but bounded, as GStreamer's scanner gives up on a plugin
// that takes too long.
constexpr double kProbeSeconds = 10;

struct Locations {
  std::string addons, data;
};

// This file's directory: in the build tree, the build's add-ons and the
// source data folder; installed, the add-ons and data installed beside it.
Locations locations() {
  Dl_info info{};
  std::string self;
  if (dladdr(reinterpret_cast<void*>(&locations), &info) != 0 && info.dli_fname != nullptr)
    self = info.dli_fname;
  std::error_code ec;
  const fs::path dir = fs::weakly_canonical(fs::path(self).parent_path(), ec);
  if (self.empty() || dir == fs::weakly_canonical(TW_GST_BUILD_PLUGIN_DIR, ec))
    return {TW_GST_BUILD_ADDON_DIR, TW_GST_BUILD_DATA_DIR};
  return {fs::weakly_canonical(dir / TW_GST_INSTALLED_ADDONS, ec).string(),
          fs::weakly_canonical(dir / TW_GST_INSTALLED_DATA, ec).string()};
}

std::chrono::milliseconds probeLimit() {
  double seconds = kProbeSeconds;
  if (const char* text = g_getenv("TIDEWAVE_PROBE_TIMEOUT")) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end != text && *end == '\0' && v > 0 && v < 3600)
      seconds = v;
    else
      GST_WARNING("TIDEWAVE_PROBE_TIMEOUT '%s' is not a number of seconds; using %g", text, kProbeSeconds);
  }
  return std::chrono::milliseconds(long(seconds * 1000));
}

gboolean pluginInit(GstPlugin* plugin) {
  GST_DEBUG_CATEGORY_INIT(tidewave_debug, "tidewave", 0, "Tidewave filters");
  const Locations where = locations();
  const char* env[] = {"TIDEWAVE_ADDON_PATH", nullptr};
  const char* paths[] = {where.addons.c_str(), nullptr};
  // Every file of the directories counts (RECURSE makes GStreamer look at
  // each entry rather than at the directory alone).
  gst_plugin_add_dependency(plugin, env, paths, nullptr, GST_PLUGIN_DEPENDENCY_FLAG_RECURSE);

  PluginCatalog cached;
  bool haveCache = false;
  if (const GstStructure* cache = gst_plugin_get_cache_data(plugin)) {
    const char* text = gst_structure_get_string(cache, "catalog");
    haveCache = text != nullptr && decodeCatalog(text, &cached);
  }
  // Kept for the life of the process: the element classes point into them.
  static std::list<HostDirs> dirs;
  static std::list<PluginCatalog> catalogs;
  dirs.push_back(hostDirsFor(where.addons, where.data));
  catalogs.push_back(discover(addonDirectories(where.addons, g_getenv("TIDEWAVE_ADDON_PATH")), dirs.back(),
                              haveCache ? &cached : nullptr, probeLimit()));
  const PluginCatalog& catalog = catalogs.back();
  GST_INFO("%d add-on files examined, %d known from the registry, %zu filters", catalog.examined,
           catalog.reused, catalog.elements.size());
  for (const std::string& w : catalog.warnings) GST_WARNING("%s", w.c_str());
  gst_plugin_set_cache_data(plugin, gst_structure_new("tidewave-catalog", "catalog", G_TYPE_STRING,
                                                      encodeCatalog(catalog).c_str(), nullptr));
  for (const ElementEntry& e : catalog.elements) {
    if (registerVisualizer(plugin, &e, &dirs.back()))
      GST_DEBUG("registered %s for \"%s\" (%s #%d)", e.factory.c_str(), e.name.c_str(), e.addonPath.c_str(),
                e.index);
    else
      GST_WARNING("could not register %s for \"%s\"", e.factory.c_str(), e.name.c_str());
  }
  return TRUE;
}

}  // namespace
}  // namespace tw::gst

// GStreamer's macro names the package through PACKAGE.
#define PACKAGE "tidewave"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, tidewave, "Tidewave's visual-effect filters",
                  tw::gst::pluginInit, TW_GST_VERSION, GST_LICENSE_UNKNOWN, "Tidewave", "Tidewave")
