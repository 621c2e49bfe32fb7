// Under AddressSanitizer: what GLib and GStreamer keep for the life of the
// process, in ways LeakSanitizer cannot follow (interned strings and quarks
// in blocks pointed into, data made when a library loads), and what
// PipeWire's GStreamer plugin forgets to free (a pool's configuration), is
// not a leak of ours. The rules match by function name, which needs whole stacks: GLib is
// built without frame pointers, so the fast unwinder stops at g_malloc.
// Programs that run GStreamer link this file; elsewhere it does nothing.
#if defined(__SANITIZE_ADDRESS__)
extern "C" {
const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
const char* __lsan_default_suppressions() {
  return "leak:g_intern_static_string\n"
         "leak:g_intern_string\n"
         "leak:g_quark_from_static_string\n"
         "leak:g_quark_from_string\n"
         "leak:_dl_init\n"
         "leak:libgstpipewire.so\n";
}
}
#endif
