// The GStreamer element that draws one filter: audio in (16-bit or float,
// mono or stereo, any rate), BGRx video out at the negotiated size and frame
// rate, exactly one frame per frame time, each equal to `tidewave render`'s
// frame at that time for the same sound.
//
// It derives from GstAudioVisualizer, so players that look for visualisers
// find it, but takes over the base class's streaming: that class draws once
// per incoming block of audio (the frame count then follows the buffer size)
// and keeps its timing, fade, pool and size choice private. Here the chain
// function keeps the samples by position (FrameCadence), draws every frame
// whose sound is in, stamps it n / fps, drops late frames on QoS, fades
// through the engine (the base class's "shader" is off), and sends buffers
// from a pool of its own.
#pragma once

#include "PluginCatalog.h"

#include <gst/gst.h>

namespace tw::gst {

// Registers the element of `entry` with the plugin. The entry and the
// directories must outlive the process' use of the type (they are kept for
// the class). False when GStreamer refuses the name.
bool registerVisualizer(GstPlugin* plugin, const ElementEntry* entry, const HostDirs* dirs);

}  // namespace tw::gst
