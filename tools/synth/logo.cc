#include "synth/logo.h"

#include <memory>

#include "synth/synth.h"
#include "writer/movie_writer.h"

void LogoPicture(VideoPicture* picture) {
  SynthPicture(SynthScene::kLogo, 0, kLogoWidth, kLogoHeight, false, picture);
}

std::vector<uint8_t> MakeLogoMovie() {
  VideoEncoderOptions options;
  options.width = kLogoWidth;
  options.height = kLogoHeight;
  options.quality = 90;  // shown for two seconds on its own: worth a clean picture
  options.speed = 0;     // one drawn picture: every coding is worth trying
  std::unique_ptr<VideoEncoder, void (*)(VideoEncoder*)> encoder(VideoEncoderCreate(options),
                                                                 VideoEncoderDestroy);
  VideoPicture picture;
  LogoPicture(&picture);
  MovieWriterFrame frame;
  frame.key = true;
  VideoEncoderEncode(encoder.get(), picture, true, &frame.video, nullptr);
  MovieWriterHeader header;
  header.version = 'i';
  header.width = kLogoWidth;
  header.height = kLogoHeight;
  header.rate_num = 10;
  header.rate_den = 1;
  return MovieWriterBuild(header, {}, {frame});
}
