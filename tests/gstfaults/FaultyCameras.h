#pragma once

#include <gst/gst.h>

namespace camwarden::faults {

// Cameras that misbehave the way real ones do, for the tests and benchmarks
// only: the program meets them through the device monitor like any webcam,
// so its pipeline never needs a switch for them. Each is a live raw-video
// camera whose device.path is its short name:
//   fault-slow    the first frame comes CAMWARDEN_FAULT_SLOW_MS (1500) after PLAYING
//   fault-dead    starting blocks CAMWARDEN_FAULT_DEAD_MS (30000), then fails
//   fault-stall   stops delivering after CAMWARDEN_FAULT_STALL_MS (2300) of frames,
//                 silently; only the first CAMWARDEN_FAULT_STALL_CLIPS (1) sources
//                 started from it in the process
//   fault-vanish  as fault-stall (first source only), and leaves the device list
//                 then, coming back CAMWARDEN_FAULT_BACK_MS (3000) later
//   fault-noeos   an end-of-stream never comes out
//   fault-fail    starting fails at once
//   fault-stuck   stopping blocks until ReleaseStuckCameras
// The knobs are read whenever a source is made. Starting the provider, as
// a device monitor does, takes CAMWARDEN_FAULT_PROVIDER_START_MS (0).

// The device provider's name, as the device monitor knows it.
inline constexpr auto kFaultyCamerasName = "camwardenfaultycameras";

// Registers the provider with GStreamer, within `plugin` when loaded as one;
// safe to call more than once.
bool RegisterFaultyCameras(GstPlugin* plugin = nullptr);

// Ends every blocked start and stop now, and lets later ones pass at once,
// so a test process can end.
void ReleaseStuckCameras();
// Blocks again, and starts counting the first sources afresh.
void ResetFaultyCameras();

}  // namespace camwarden::faults
