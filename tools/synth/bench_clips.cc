#include "synth/bench_clips.h"

#include <memory>

#include "synth/synth.h"
#include "writer/movie_writer.h"

void MakeBenchPictures(uint32_t width, uint32_t height, uint32_t frames,
                       std::vector<VideoPicture>* pictures) {
  pictures->resize(frames);
  for (uint32_t k = 0; k < frames; k++)
    SynthPicture(SynthScene::kNatural, k, width, height, false, &(*pictures)[k]);
}

std::vector<uint8_t> MakeBenchClip(const BenchClipOptions& options) {
  VideoEncoderOptions video;
  video.width = options.width;
  video.height = options.height;
  video.quality = options.quality;
  video.keyint = options.all_key ? 1 : 0;
  video.scene_cuts = false;  // exactly one key frame when asked for
  std::unique_ptr<VideoEncoder, void (*)(VideoEncoder*)> encoder(VideoEncoderCreate(video),
                                                                 VideoEncoderDestroy);
  if (!encoder) return {};
  std::vector<MovieWriterFrame> frames(options.frames);
  VideoPicture picture;
  for (uint32_t k = 0; k < options.frames; k++) {
    SynthPicture(SynthScene::kNatural, k, options.width, options.height, false, &picture);
    VideoFrameStats stats;
    VideoEncoderEncode(encoder.get(), picture, options.all_key, &frames[k].video, &stats);
    frames[k].key = stats.key;
  }
  MovieWriterHeader header;
  header.width = options.width;
  header.height = options.height;
  header.rate_num = options.rate_num;
  header.rate_den = options.rate_den;
  return MovieWriterBuild(header, {}, frames);
}
