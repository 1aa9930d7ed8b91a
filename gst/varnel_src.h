// varnelsrc: a live GStreamer source element over the camera library's C
// interface. It opens a camera drive, negotiates a picture format that the
// library can deliver honestly, streams (or waits for triggers), and pushes
// each frame the library announces, timestamped on the pipeline clock when it
// arrived. Frames the library announced but the element could not take in
// time are counted and shown downstream as a gap.
#pragma once

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_VARNEL_SRC (gst_varnel_src_get_type())
G_DECLARE_FINAL_TYPE(GstVarnelSrc, gst_varnel_src, GST, VARNEL_SRC, GstPushSrc)

// Registers the element with `plugin` (null: with the application, as a
// static plugin's init function does).
gboolean gst_varnel_src_register(GstPlugin* plugin);

// Registers the "varnel" plugin inside the running program, for programs
// that carry the element themselves (varnelcam serve, the element's tests).
gboolean gst_varnel_register_static_plugin(void);

G_END_DECLS
