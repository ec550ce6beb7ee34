#include <gst/gst.h>

#include "tests/gstfaults/FaultyCameras.h"

namespace {

gboolean InitPlugin(GstPlugin* plugin) {
    return camwarden::faults::RegisterFaultyCameras(plugin);
}

}  // namespace

// Loaded through GST_PLUGIN_PATH, so the real program meets the same cameras
// the in-process tests do. GStreamer knows the MIT licence as "MIT/X11".
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, camwardenfaults,
                  "Misbehaving cameras for testing Camwarden", InitPlugin, "1.0", "MIT/X11",
                  "Camwarden", "https://quillory.com/camwarden")
