/* vorndemux: reads a Vorn movie (video/x-vorn) and outputs its decoded
 * pictures on one pad and the decoded sound of each track on one pad per
 * track. */
#ifndef VORN_GST_DEMUX_H
#define VORN_GST_DEMUX_H

#include <gst/base/gstadapter.h>
#include <gst/base/gstflowcombiner.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <vorn/vorn.h>

G_BEGIN_DECLS

#define VORN_CAPS_NAME "video/x-vorn"

#define GST_TYPE_VORN_DEMUX (gst_vorn_demux_get_type())
G_DECLARE_FINAL_TYPE(GstVornDemux, gst_vorn_demux, GST, VORN_DEMUX, GstElement)

typedef struct VornAudioPad {
  GstPad* pad;
  guint track;   /* file track index */
  guint rate;
  guint channels;
} VornAudioPad;

struct _GstVornDemux {
  GstElement parent;
  GstPad* sinkpad;
  GstPad* video_pad;
  VornAudioPad* audio;
  guint audio_count;
  GstFlowCombiner* flows;

  gboolean pull_mode;
  guint64 upstream_size; /* bytes, 0 = unknown */
  GstFlowReturn pull_flow;

  /* Push mode: the whole movie gathers here until upstream ends. */
  GstAdapter* adapter;
  guint8* image;
  gsize image_size;
  gboolean upstream_ended;

  vorn_movie* movie;
  vorn_info info;
  GstVideoInfo video_info;
  gboolean failed;        /* an error was posted; nothing more is pushed */

  GstSegment segment;
  gboolean need_segment;
  gboolean tags_sent;
  gboolean discont;
  guint32 seek_seqnum;    /* 0 = none */
  GstClockTime position;
};

gboolean gst_vorn_demux_register(GstPlugin* plugin);

G_END_DECLS

#endif
