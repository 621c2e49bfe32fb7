// Starts GStreamer as an application would (the registry updated as the
// environment says) and prints the plugin's elements, one "name<TAB>long name"
// line each, then exits. The registry tests run it with the environment of
// each case, as a fresh process. Given an element name, it also makes that
// element (which loads the plugin, as an application does) and says "made".
#include <gst/gst.h>

#include <cstdio>

int main(int argc, char** argv) {
  gst_init(&argc, &argv);
  GList* features = gst_registry_get_feature_list_by_plugin(gst_registry_get(), "tidewave");
  for (GList* l = features; l != nullptr; l = l->next) {
    auto* f = GST_ELEMENT_FACTORY(l->data);
    std::printf("%s\t%s\n", GST_OBJECT_NAME(f),
                gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_LONGNAME));
  }
  gst_plugin_feature_list_free(features);
  if (argc > 1) {
    GstElement* e = gst_element_factory_make(argv[1], nullptr);
    if (e != nullptr) {
      std::printf("made\t%s\n", argv[1]);
      gst_object_unref(e);
    }
  }
  gst_deinit();
  return 0;
}
