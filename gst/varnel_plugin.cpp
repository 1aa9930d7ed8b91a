// The "varnel" GStreamer plugin: the varnelsrc element as a loadable module.
#include <gst/gst.h>

#include "varnel_src.h"

#define PACKAGE "varnel-sdk"

static gboolean PluginInit(GstPlugin* plugin) { return gst_varnel_src_register(plugin); }

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, varnel, "Varnel camera heads", PluginInit,
                  VARNEL_SDK_VERSION, "Proprietary", "varnel-sdk", "https://varnel.invalid/")
