/* The plugin: the vorndemux element and a type finder that recognises Vorn
 * movies by their first bytes (and the .vxn extension), so that decodebin
 * and playbin pick the element by content. */
#include <string.h>

#include "vorn_demux.h"

#ifndef VORN_PLUGIN_VERSION
#define VORN_PLUGIN_VERSION "1.0.0"
#endif
#define PACKAGE "gst-plugin-vorn"

enum { kHeaderBytes = 44, kMaxDimension = 16384 };

static void vorn_type_find(GstTypeFind* find, gpointer unused) {
  (void)unused;
  const guint8* head = gst_type_find_peek(find, 0, 4);
  if (!head || memcmp(head, "VXN", 3) != 0 || head[3] < 'f' || head[3] > 'i') return;
  GstCaps* caps = gst_caps_new_empty_simple(VORN_CAPS_NAME);
  /* Four bytes can occur in other data; a plausible header makes it certain. */
  guint probability = GST_TYPE_FIND_LIKELY;
  const guint8* header = gst_type_find_peek(find, 0, kHeaderBytes);
  if (header) {
    guint32 frames = GST_READ_UINT32_LE(header + 8);
    guint32 width = GST_READ_UINT32_LE(header + 20);
    guint32 height = GST_READ_UINT32_LE(header + 24);
    guint32 rate_num = GST_READ_UINT32_LE(header + 28);
    guint32 rate_den = GST_READ_UINT32_LE(header + 32);
    if (frames > 0 && width >= 1 && width <= kMaxDimension && height >= 1 && height <= kMaxDimension &&
        rate_num > 0 && rate_den > 0)
      probability = GST_TYPE_FIND_MAXIMUM;
  }
  gst_type_find_suggest(find, probability, caps);
  gst_caps_unref(caps);
}

static gboolean plugin_init(GstPlugin* plugin) {
  GstCaps* caps = gst_caps_new_empty_simple(VORN_CAPS_NAME);
  gboolean ok = gst_type_find_register(plugin, "video/x-vorn", GST_RANK_PRIMARY, vorn_type_find, "vxn", caps,
                                       NULL, NULL);
  gst_caps_unref(caps);
  return ok && gst_vorn_demux_register(plugin);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, vorn, "Vorn movie demuxer and decoder", plugin_init,
                  VORN_PLUGIN_VERSION, GST_LICENSE_UNKNOWN, PACKAGE, "https://localhost/vorn")
