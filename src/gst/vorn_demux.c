/* vorndemux: one streaming task on the sink pad steps through the movie
 * with libvorn and pushes, per frame, each track's sound and then the
 * picture. In pull mode the movie is read on demand (and can be seeked);
 * in push mode the whole movie is gathered first, then played from memory.
 */
#include "vorn_demux.h"

#include <gst/audio/audio.h>
#include <string.h>

GST_DEBUG_CATEGORY_STATIC(vorn_demux_debug);
#define GST_CAT_DEFAULT vorn_demux_debug

/* Vorn movies are at most 4 GiB: every offset in them is 32-bit. */
#define MAX_MOVIE_BYTES G_GUINT64_CONSTANT(0xFFFFFFFF)

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(VORN_CAPS_NAME));
static GstStaticPadTemplate video_template = GST_STATIC_PAD_TEMPLATE(
    "video_%u", GST_PAD_SRC, GST_PAD_SOMETIMES,
    GST_STATIC_CAPS("video/x-raw, format = (string) { I420, A420 }, width = (int) [ 1, 16384 ], "
                    "height = (int) [ 1, 16384 ], framerate = (fraction) [ 0/1, MAX ]"));
static GstStaticPadTemplate audio_template = GST_STATIC_PAD_TEMPLATE(
    "audio_%u", GST_PAD_SRC, GST_PAD_SOMETIMES,
    GST_STATIC_CAPS("audio/x-raw, format = (string) S16LE, layout = (string) interleaved, "
                    "rate = (int) [ 1, 65535 ], channels = (int) [ 1, 2 ]"));

G_DEFINE_TYPE(GstVornDemux, gst_vorn_demux, GST_TYPE_ELEMENT)

static void vorn_demux_loop(GstPad* pad);

/* ---- Reading in pull mode ---------------------------------------------------- */

static int64_t pull_read(void* user, uint64_t offset, void* dest, uint32_t size) {
  GstVornDemux* demux = user;
  GstBuffer* buffer = NULL;
  GstFlowReturn ret = gst_pad_pull_range(demux->sinkpad, offset, size, &buffer);
  demux->pull_flow = ret;
  if (ret == GST_FLOW_EOS) return 0;
  if (ret != GST_FLOW_OK) return -1;
  gsize got = gst_buffer_extract(buffer, 0, dest, size);
  gst_buffer_unref(buffer);
  return (int64_t)got;
}

static int64_t pull_size(void* user) {
  GstVornDemux* demux = user;
  return demux->upstream_size ? (int64_t)demux->upstream_size : -1;
}

/* ---- Pads --------------------------------------------------------------------- */

static gboolean src_event(GstPad* pad, GstObject* parent, GstEvent* event);
static gboolean src_query(GstPad* pad, GstObject* parent, GstQuery* query);

static void push_to_all(GstVornDemux* demux, GstEvent* event) {
  if (demux->video_pad) gst_pad_push_event(demux->video_pad, gst_event_ref(event));
  for (guint i = 0; i < demux->audio_count; i++) gst_pad_push_event(demux->audio[i].pad, gst_event_ref(event));
  gst_event_unref(event);
}

static GstPad* new_src_pad(GstVornDemux* demux, GstStaticPadTemplate* templ, const gchar* name,
                           GstCaps* caps, guint group, const gchar* stream) {
  GstPad* pad = gst_pad_new_from_static_template(templ, name);
  gst_pad_set_event_function(pad, src_event);
  gst_pad_set_query_function(pad, src_query);
  gst_pad_use_fixed_caps(pad);
  gst_pad_set_active(pad, TRUE);
  gchar* id = gst_pad_create_stream_id(pad, GST_ELEMENT(demux), stream);
  GstEvent* start = gst_event_new_stream_start(id);
  gst_event_set_group_id(start, group);
  gst_pad_push_event(pad, start);
  g_free(id);
  gst_pad_set_caps(pad, caps);
  gst_caps_unref(caps);
  gst_flow_combiner_add_pad(demux->flows, pad);
  gst_element_add_pad(GST_ELEMENT(demux), pad);
  return pad;
}

/* The display size the movie asks for becomes the pixel aspect ratio. */
static void pixel_aspect(const vorn_info* info, gint* num, gint* den) {
  *num = (gint)(info->display_width / info->width);
  *den = (gint)(info->display_height / info->height);
  if (*num < 1) *num = 1;
  if (*den < 1) *den = 1;
}

static void add_pads(GstVornDemux* demux) {
  const vorn_info* info = &demux->info;
  guint group = gst_util_group_id_next();
  GstVideoFormat format = info->has_alpha ? GST_VIDEO_FORMAT_A420 : GST_VIDEO_FORMAT_I420;
  gst_video_info_set_format(&demux->video_info, format, info->width, info->height);
  demux->video_info.fps_n = (gint)info->rate_num;
  demux->video_info.fps_d = (gint)info->rate_den;
  pixel_aspect(info, &demux->video_info.par_n, &demux->video_info.par_d);
  demux->video_pad = new_src_pad(demux, &video_template, "video_0", gst_video_info_to_caps(&demux->video_info),
                                 group, "video");

  demux->audio = g_new0(VornAudioPad, info->track_count ? info->track_count : 1);
  for (guint i = 0; i < info->track_count; i++) {
    vorn_track_info track;
    if (vorn_get_track_info(demux->movie, i, &track) != VORN_OK || !track.decodable) {
      GST_ELEMENT_WARNING(demux, STREAM, CODEC_NOT_FOUND, ("Sound track %u cannot be decoded.", i),
                          ("track identifier %u", track.id));
      continue;
    }
    VornAudioPad* audio = &demux->audio[demux->audio_count++];
    audio->track = i;
    audio->rate = track.rate;
    audio->channels = track.channels;
    GstCaps* caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout", G_TYPE_STRING,
                                        "interleaved", "rate", G_TYPE_INT, (gint)track.rate, "channels",
                                        G_TYPE_INT, (gint)track.channels, NULL);
    gchar* name = g_strdup_printf("audio_%u", i);
    gchar* stream = g_strdup_printf("audio-%u", track.id);
    audio->pad = new_src_pad(demux, &audio_template, name, caps, group, stream);
    g_free(stream);
    g_free(name);
  }
  gst_element_no_more_pads(GST_ELEMENT(demux));
}

static void remove_pads(GstVornDemux* demux) {
  if (demux->video_pad) {
    gst_flow_combiner_remove_pad(demux->flows, demux->video_pad);
    gst_element_remove_pad(GST_ELEMENT(demux), demux->video_pad);
    demux->video_pad = NULL;
  }
  for (guint i = 0; i < demux->audio_count; i++) {
    gst_flow_combiner_remove_pad(demux->flows, demux->audio[i].pad);
    gst_element_remove_pad(GST_ELEMENT(demux), demux->audio[i].pad);
  }
  g_free(demux->audio);
  demux->audio = NULL;
  demux->audio_count = 0;
}

/* ---- Opening -------------------------------------------------------------------- */

static gboolean open_movie(GstVornDemux* demux) {
  int result;
  if (demux->pull_mode) {
    gint64 size = 0;
    demux->upstream_size = 0;
    if (gst_pad_peer_query_duration(demux->sinkpad, GST_FORMAT_BYTES, &size) && size > 0)
      demux->upstream_size = (guint64)size;
    vorn_io io = {pull_read, pull_size, NULL};
    result = vorn_open_callbacks(&io, demux, 0, &demux->movie);
    if (result != VORN_OK && demux->pull_flow == GST_FLOW_FLUSHING) return FALSE;
  } else {
    result = vorn_open_memory(demux->image, demux->image_size, 0, &demux->movie);
  }
  if (result != VORN_OK) {
    if (result == VORN_ERROR_MEMORY)
      GST_ELEMENT_ERROR(demux, RESOURCE, FAILED, ("Out of memory opening the movie."), ("%s", vorn_error_text(NULL)));
    else if (result == VORN_ERROR_NOT_MOVIE)
      GST_ELEMENT_ERROR(demux, STREAM, DEMUX, ("%s", vorn_error_text(NULL)), (NULL));
    else
      GST_ELEMENT_ERROR(demux, RESOURCE, READ, ("%s", vorn_error_text(NULL)), (NULL));
    demux->failed = TRUE;
    return FALSE;
  }
  vorn_get_info(demux->movie, &demux->info);
  if (demux->info.frames_missing)
    GST_ELEMENT_WARNING(demux, STREAM, DEMUX, ("%s", vorn_error_text(demux->movie)), (NULL));
  gst_segment_init(&demux->segment, GST_FORMAT_TIME);
  demux->segment.duration = demux->info.duration_ns;
  demux->need_segment = TRUE;
  add_pads(demux);
  return TRUE;
}

/* ---- Pushing a frame ------------------------------------------------------------- */

static void copy_plane(guint8* dest, gint dest_stride, const uint8_t* src, uint32_t src_pitch, uint32_t width,
                       uint32_t height) {
  for (uint32_t y = 0; y < height; y++) memcpy(dest + (gsize)y * dest_stride, src + (gsize)y * src_pitch, width);
}

static GstBuffer* picture_buffer(GstVornDemux* demux) {
  vorn_planes planes;
  if (vorn_get_planes(demux->movie, &planes) != VORN_OK) return NULL;
  const GstVideoInfo* info = &demux->video_info;
  GstBuffer* buffer = gst_buffer_new_allocate(NULL, GST_VIDEO_INFO_SIZE(info), NULL);
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_WRITE);
  guint8* base = map.data;
  /* Rows may be padded to a stride: the padding is not left as stale heap bytes. */
  if (GST_VIDEO_INFO_PLANE_STRIDE(info, 0) != (gint)planes.width ||
      GST_VIDEO_INFO_PLANE_STRIDE(info, 1) != (gint)planes.chroma_width)
    memset(base, 0, map.size);
#define PLANE(i) (base + GST_VIDEO_INFO_PLANE_OFFSET(info, i)), GST_VIDEO_INFO_PLANE_STRIDE(info, i)
  copy_plane(PLANE(0), planes.y, planes.y_pitch, planes.width, planes.height);
  copy_plane(PLANE(1), planes.u, planes.uv_pitch, planes.chroma_width, planes.chroma_height);
  copy_plane(PLANE(2), planes.v, planes.uv_pitch, planes.chroma_width, planes.chroma_height);
  if (GST_VIDEO_INFO_N_PLANES(info) == 4) copy_plane(PLANE(3), planes.a, planes.a_pitch, planes.width, planes.height);
#undef PLANE
  gst_buffer_unmap(buffer, &map);
  return buffer;
}

static GstFlowReturn push_buffer(GstVornDemux* demux, GstPad* pad, GstBuffer* buffer) {
  if (demux->discont) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
  return gst_flow_combiner_update_pad_flow(demux->flows, pad, gst_pad_push(pad, buffer));
}

static GstFlowReturn push_sound(GstVornDemux* demux) {
  GstFlowReturn ret = GST_FLOW_OK;
  for (guint i = 0; i < demux->audio_count && ret == GST_FLOW_OK; i++) {
    const VornAudioPad* audio = &demux->audio[i];
    const int16_t* pcm = NULL;
    size_t bytes = 0;
    uint64_t first = 0;
    if (vorn_audio(demux->movie, audio->track, &pcm, &bytes, &first) != VORN_OK || bytes == 0) continue;
    guint64 samples = bytes / (2u * audio->channels);
    if (samples == 0) continue;
    GstBuffer* buffer = gst_buffer_new_memdup(pcm, samples * 2u * audio->channels);
    GstClockTime start = gst_util_uint64_scale(first, GST_SECOND, audio->rate);
    GstClockTime end = gst_util_uint64_scale(first + samples, GST_SECOND, audio->rate);
    GST_BUFFER_PTS(buffer) = start;
    GST_BUFFER_DURATION(buffer) = end - start;
    GST_BUFFER_OFFSET(buffer) = first;
    GST_BUFFER_OFFSET_END(buffer) = first + samples;
    ret = push_buffer(demux, audio->pad, buffer);
  }
  return ret;
}

static void push_segment(GstVornDemux* demux) {
  GstEvent* segment = gst_event_new_segment(&demux->segment);
  if (demux->seek_seqnum) gst_event_set_seqnum(segment, demux->seek_seqnum);
  push_to_all(demux, segment);
  demux->need_segment = FALSE;
}

/* Once per movie, after the first segment: what the streams are. */
static void push_tags(GstVornDemux* demux) {
  GstTagList* video = gst_tag_list_new(GST_TAG_CONTAINER_FORMAT, "Vorn", GST_TAG_VIDEO_CODEC,
                                       demux->info.has_alpha ? "Vorn video with alpha" : "Vorn video", NULL);
  gst_tag_list_set_scope(video, GST_TAG_SCOPE_STREAM);
  gst_pad_push_event(demux->video_pad, gst_event_new_tag(video));
  for (guint i = 0; i < demux->audio_count; i++) {
    GstTagList* audio =
        gst_tag_list_new(GST_TAG_CONTAINER_FORMAT, "Vorn", GST_TAG_AUDIO_CODEC, "Vorn audio", NULL);
    gst_tag_list_set_scope(audio, GST_TAG_SCOPE_STREAM);
    gst_pad_push_event(demux->audio[i].pad, gst_event_new_tag(audio));
  }
  demux->tags_sent = TRUE;
}

static void push_eos(GstVornDemux* demux) {
  GstEvent* eos = gst_event_new_eos();
  if (demux->seek_seqnum) gst_event_set_seqnum(eos, demux->seek_seqnum);
  push_to_all(demux, eos);
}

/* One frame: step, then the sound of every track, then the picture. */
static GstFlowReturn push_frame(GstVornDemux* demux) {
  int result = vorn_step(demux->movie);
  if (result == VORN_END) return GST_FLOW_EOS;
  if (result == VORN_ERROR_READ) {
    if (demux->pull_mode && demux->pull_flow == GST_FLOW_FLUSHING) return GST_FLOW_FLUSHING;
    GST_ELEMENT_WARNING(demux, STREAM, DEMUX, ("The movie ends early: its data could not be read further."),
                        ("%s", vorn_error_text(demux->movie)));
    return GST_FLOW_EOS;
  }
  if (result == VORN_DAMAGED)
    GST_ELEMENT_WARNING(demux, STREAM, DECODE, ("%s", vorn_error_text(demux->movie)), (NULL));
  else if (result != VORN_OK)
    return GST_FLOW_ERROR;

  uint32_t frame = vorn_frame_number(demux->movie);
  GstClockTime start = vorn_frame_time_ns(demux->movie, frame);
  GstClockTime end = vorn_frame_time_ns(demux->movie, frame + 1);
  if (GST_CLOCK_TIME_IS_VALID(demux->segment.stop) && start >= demux->segment.stop) return GST_FLOW_EOS;

  GstFlowReturn ret = push_sound(demux);
  if (ret != GST_FLOW_OK) return ret;
  GstBuffer* picture = picture_buffer(demux);
  if (!picture) return GST_FLOW_ERROR;
  GST_BUFFER_PTS(picture) = start;
  GST_BUFFER_DURATION(picture) = end - start;
  GST_BUFFER_OFFSET(picture) = frame - 1;
  GST_BUFFER_OFFSET_END(picture) = frame;
  ret = push_buffer(demux, demux->video_pad, picture);
  demux->discont = FALSE;
  demux->position = start;
  return ret;
}

static void vorn_demux_loop(GstPad* pad) {
  GstVornDemux* demux = GST_VORN_DEMUX(gst_pad_get_parent(pad));
  GstFlowReturn ret = GST_FLOW_OK;
  if (demux->failed) {
    ret = GST_FLOW_ERROR;
    goto pause;
  }
  if (!demux->movie && !open_movie(demux)) {
    ret = demux->failed ? GST_FLOW_ERROR : GST_FLOW_FLUSHING;
    goto pause;
  }
  if (demux->need_segment) push_segment(demux);
  if (!demux->tags_sent) push_tags(demux);
  ret = push_frame(demux);
  if (ret != GST_FLOW_OK) goto pause;
  gst_object_unref(demux);
  return;

pause:
  GST_DEBUG_OBJECT(demux, "pausing: %s", gst_flow_get_name(ret));
  gst_pad_pause_task(pad);
  if (ret == GST_FLOW_EOS) {
    push_eos(demux);
  } else if (ret == GST_FLOW_NOT_LINKED || ret < GST_FLOW_EOS) {
    if (!demux->failed) GST_ELEMENT_FLOW_ERROR(demux, ret);
    demux->failed = TRUE;
    if (demux->video_pad) push_eos(demux);
  }
  gst_object_unref(demux);
}

/* ---- Seeking and queries ----------------------------------------------------------- */

static gboolean handle_seek(GstVornDemux* demux, GstEvent* event) {
  gdouble rate;
  GstFormat format;
  GstSeekFlags flags;
  GstSeekType start_type, stop_type;
  gint64 start, stop;
  gst_event_parse_seek(event, &rate, &format, &flags, &start_type, &start, &stop_type, &stop);
  if (format != GST_FORMAT_TIME || rate <= 0.0 || !demux->movie || demux->failed) return FALSE;
  const gboolean flush = (flags & GST_SEEK_FLAG_FLUSH) != 0;
  const guint32 seqnum = gst_event_get_seqnum(event);

  if (flush) {
    GstEvent* flush_start = gst_event_new_flush_start();
    gst_event_set_seqnum(flush_start, seqnum);
    push_to_all(demux, flush_start);
  } else {
    gst_pad_pause_task(demux->sinkpad);
  }
  GST_PAD_STREAM_LOCK(demux->sinkpad);

  GstSegment segment = demux->segment;
  gboolean update;
  gst_segment_do_seek(&segment, rate, format, flags, start_type, start, stop_type, stop, &update);
  const gboolean accurate = (flags & GST_SEEK_FLAG_ACCURATE) != 0;
  uint32_t target = vorn_frame_at_time(demux->movie, segment.position);
  uint32_t landed = target;
  int result = vorn_seek(demux->movie, target, accurate ? VORN_SEEK_ACCURATE : VORN_SEEK_KEY, &landed);
  if (!accurate && (flags & GST_SEEK_FLAG_KEY_UNIT)) {
    /* The key frame is shown: the segment starts at its time. */
    GstClockTime key_time = vorn_frame_time_ns(demux->movie, landed);
    segment.start = segment.position = segment.time = key_time;
  }

  if (flush) {
    GstEvent* flush_stop = gst_event_new_flush_stop(TRUE);
    gst_event_set_seqnum(flush_stop, seqnum);
    push_to_all(demux, flush_stop);
  }
  gst_flow_combiner_reset(demux->flows);
  demux->segment = segment;
  demux->need_segment = TRUE;
  demux->discont = TRUE;
  demux->seek_seqnum = seqnum;
  if (result != VORN_OK) {
    GST_ELEMENT_WARNING(demux, STREAM, DEMUX, ("The movie could not be read at the seek position."),
                        ("%s", vorn_error_text(demux->movie)));
  }
  gst_pad_start_task(demux->sinkpad, (GstTaskFunction)vorn_demux_loop, demux->sinkpad, NULL);
  GST_PAD_STREAM_UNLOCK(demux->sinkpad);
  return TRUE;
}

static gboolean src_event(GstPad* pad, GstObject* parent, GstEvent* event) {
  GstVornDemux* demux = GST_VORN_DEMUX(parent);
  if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
    gboolean ok = handle_seek(demux, event);
    gst_event_unref(event);
    return ok;
  }
  /* Upstream holds bytes, not times: other upstream events end here. */
  if (GST_EVENT_TYPE(event) == GST_EVENT_QOS || GST_EVENT_TYPE(event) == GST_EVENT_NAVIGATION ||
      GST_EVENT_TYPE(event) == GST_EVENT_LATENCY) {
    gst_event_unref(event);
    return TRUE;
  }
  return gst_pad_event_default(pad, parent, event);
}

static gboolean src_query(GstPad* pad, GstObject* parent, GstQuery* query) {
  GstVornDemux* demux = GST_VORN_DEMUX(parent);
  GstFormat format;
  switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_DURATION:
      gst_query_parse_duration(query, &format, NULL);
      if (format != GST_FORMAT_TIME || !demux->movie) return FALSE;
      gst_query_set_duration(query, GST_FORMAT_TIME, (gint64)demux->info.duration_ns);
      return TRUE;
    case GST_QUERY_POSITION:
      gst_query_parse_position(query, &format, NULL);
      if (format != GST_FORMAT_TIME || !demux->movie) return FALSE;
      gst_query_set_position(query, GST_FORMAT_TIME, (gint64)demux->position);
      return TRUE;
    case GST_QUERY_SEEKING:
      gst_query_parse_seeking(query, &format, NULL, NULL, NULL);
      if (format != GST_FORMAT_TIME) return FALSE;
      gst_query_set_seeking(query, GST_FORMAT_TIME, demux->movie != NULL, 0, (gint64)demux->info.duration_ns);
      return TRUE;
    default:
      return gst_pad_query_default(pad, parent, query);
  }
}

/* ---- The sink pad ------------------------------------------------------------------ */

static GstFlowReturn sink_chain(GstPad* pad, GstObject* parent, GstBuffer* buffer) {
  (void)pad;
  GstVornDemux* demux = GST_VORN_DEMUX(parent);
  if (demux->upstream_ended || demux->movie) {
    gst_buffer_unref(buffer);
    return GST_FLOW_EOS;
  }
  if (gst_adapter_available(demux->adapter) + gst_buffer_get_size(buffer) > MAX_MOVIE_BYTES) {
    gst_buffer_unref(buffer);
    GST_ELEMENT_ERROR(demux, STREAM, DEMUX, ("The stream is longer than a Vorn movie can be (4 GiB)."), (NULL));
    demux->failed = TRUE;
    return GST_FLOW_ERROR;
  }
  gst_adapter_push(demux->adapter, buffer);
  return GST_FLOW_OK;
}

static gboolean sink_event(GstPad* pad, GstObject* parent, GstEvent* event) {
  GstVornDemux* demux = GST_VORN_DEMUX(parent);
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_EOS:
      gst_event_unref(event);
      if (demux->pull_mode || demux->upstream_ended) return TRUE;
      demux->upstream_ended = TRUE;
      demux->image_size = gst_adapter_available(demux->adapter);
      if (demux->image_size == 0) {
        GST_ELEMENT_ERROR(demux, STREAM, DEMUX, ("The stream holds no data."), (NULL));
        demux->failed = TRUE;
        return TRUE;
      }
      demux->image = gst_adapter_take(demux->adapter, demux->image_size);
      return gst_pad_start_task(pad, (GstTaskFunction)vorn_demux_loop, pad, NULL);
    case GST_EVENT_SEGMENT:
    case GST_EVENT_CAPS:
    case GST_EVENT_STREAM_START:
    case GST_EVENT_FLUSH_START:
    case GST_EVENT_FLUSH_STOP:
      /* The bytes' own framing means nothing downstream of a decoder. */
      gst_event_unref(event);
      return TRUE;
    default:
      return gst_pad_event_default(pad, parent, event);
  }
}

static gboolean sink_activate(GstPad* pad, GstObject* parent) {
  (void)parent;
  GstQuery* query = gst_query_new_scheduling();
  gboolean pull = FALSE;
  if (gst_pad_peer_query(pad, query))
    pull = gst_query_has_scheduling_mode_with_flags(query, GST_PAD_MODE_PULL, GST_SCHEDULING_FLAG_SEEKABLE);
  gst_query_unref(query);
  return gst_pad_activate_mode(pad, pull ? GST_PAD_MODE_PULL : GST_PAD_MODE_PUSH, TRUE);
}

static gboolean sink_activate_mode(GstPad* pad, GstObject* parent, GstPadMode mode, gboolean active) {
  GstVornDemux* demux = GST_VORN_DEMUX(parent);
  if (mode == GST_PAD_MODE_PULL) {
    demux->pull_mode = active;
    if (active) return gst_pad_start_task(pad, (GstTaskFunction)vorn_demux_loop, pad, NULL);
    return gst_pad_stop_task(pad);
  }
  if (mode == GST_PAD_MODE_PUSH) {
    if (active) {
      demux->pull_mode = FALSE;
      return TRUE;
    }
    return gst_pad_stop_task(pad);
  }
  return FALSE;
}

/* ---- The element ------------------------------------------------------------------- */

static void reset(GstVornDemux* demux) {
  remove_pads(demux);
  if (demux->movie) vorn_close(demux->movie);
  demux->movie = NULL;
  memset(&demux->info, 0, sizeof demux->info);
  gst_adapter_clear(demux->adapter);
  g_free(demux->image);
  demux->image = NULL;
  demux->image_size = 0;
  demux->upstream_ended = FALSE;
  demux->upstream_size = 0;
  demux->pull_flow = GST_FLOW_OK;
  demux->failed = FALSE;
  demux->need_segment = TRUE;
  demux->tags_sent = FALSE;
  demux->discont = TRUE;
  demux->seek_seqnum = 0;
  demux->position = 0;
  gst_segment_init(&demux->segment, GST_FORMAT_TIME);
}

static GstStateChangeReturn change_state(GstElement* element, GstStateChange transition) {
  GstVornDemux* demux = GST_VORN_DEMUX(element);
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) reset(demux);
  GstStateChangeReturn ret = GST_ELEMENT_CLASS(gst_vorn_demux_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) reset(demux);
  return ret;
}

static void finalize(GObject* object) {
  GstVornDemux* demux = GST_VORN_DEMUX(object);
  if (demux->movie) vorn_close(demux->movie);
  g_free(demux->image);
  g_free(demux->audio);
  g_object_unref(demux->adapter);
  gst_flow_combiner_free(demux->flows);
  G_OBJECT_CLASS(gst_vorn_demux_parent_class)->finalize(object);
}

static void gst_vorn_demux_class_init(GstVornDemuxClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  object_class->finalize = finalize;
  element_class->change_state = change_state;
  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &video_template);
  gst_element_class_add_static_pad_template(element_class, &audio_template);
  gst_element_class_set_static_metadata(element_class, "Vorn movie demuxer and decoder", "Codec/Demuxer",
                                        "Decodes Vorn movies into raw video and one raw audio stream per track",
                                        "The Vorn developers");
  GST_DEBUG_CATEGORY_INIT(vorn_demux_debug, "vorndemux", 0, "Vorn movie demuxer and decoder");
}

static void gst_vorn_demux_init(GstVornDemux* demux) {
  demux->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
  gst_pad_set_activate_function(demux->sinkpad, sink_activate);
  gst_pad_set_activatemode_function(demux->sinkpad, sink_activate_mode);
  gst_pad_set_chain_function(demux->sinkpad, sink_chain);
  gst_pad_set_event_function(demux->sinkpad, sink_event);
  gst_element_add_pad(GST_ELEMENT(demux), demux->sinkpad);
  demux->adapter = gst_adapter_new();
  demux->flows = gst_flow_combiner_new();
  gst_segment_init(&demux->segment, GST_FORMAT_TIME);
  demux->need_segment = TRUE;
  demux->discont = TRUE;
}

gboolean gst_vorn_demux_register(GstPlugin* plugin) {
  return gst_element_register(plugin, "vorndemux", GST_RANK_PRIMARY, GST_TYPE_VORN_DEMUX);
}
