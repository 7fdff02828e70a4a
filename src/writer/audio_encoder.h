// The audio encoder: turns interleaved signed 16-bit PCM into audio packet
// payloads (decoded_bytes word + coded blocks) that the audio decoder turns
// back into the same PCM, up to the quantisation noise the quality allows.
//
// Usage, one encoder per track:
//   AudioEncoder* enc = AudioEncoderOpen(22050, 2, true, 75);
//   for each video frame k (0-based):
//     uint32_t n = AudioEncoderFramesForVideoFrame(enc, k, rate_num, rate_den);
//     payload = AudioEncodePacket(enc, pcm + pos * channels, n,
//                                 pcm + (pos + n) * channels, remaining frames);
//     pos += n;   // payload may be empty (n = 0): "no audio this frame"
//   AudioEncoderClose(enc);
// The track's max_bytes is the largest n * channels * 2 over all frames, and
// its format word is AudioEncoderTrackFormat(enc, sixteen_bit).
#pragma once
#include <cstdint>
#include <vector>

struct AudioEncoder;

// rate 1..65535 Hz; channels 1 or 2; use_dct selects the DCT variant (else
// RDFT); quality 0 (smallest) .. 100 (near lossless). Null on bad arguments.
AudioEncoder* AudioEncoderOpen(uint32_t rate, uint32_t channels, bool use_dct, int quality);
void AudioEncoderClose(AudioEncoder* encoder);

// Sample frames (per channel) one decoded block yields: packets made of whole
// blocks waste nothing.
uint32_t AudioEncoderBlockFrames(const AudioEncoder* encoder);
// Sample frames the packet of the given video frame should carry so that the
// first frame holds at least 0.75 s of lead-in and every later frame keeps
// the sound ahead of the picture by that much, in whole blocks (so some
// frames carry none).
uint32_t AudioEncoderFramesForVideoFrame(const AudioEncoder* encoder, uint32_t frame_index,
                                         uint32_t rate_num, uint32_t rate_den);
// The track-table format word: rate | variant | stereo | 16-bit bits.
uint32_t AudioEncoderTrackFormat(const AudioEncoder* encoder, bool sixteen_bit);

// Codes `frames` sample frames of interleaved PCM into one packet payload
// that decodes to exactly frames * channels * 2 bytes. `following` points at
// the samples that come after this packet (the end of each packet's last
// block overlaps them); pass what is there (following_frames may be 0 at the
// end of the sound). Packets must be made in order, one after another, for
// the decoded sound to join up. frames = 0 gives an empty payload.
std::vector<uint8_t> AudioEncodePacket(AudioEncoder* encoder, const int16_t* pcm,
                                       uint32_t frames, const int16_t* following,
                                       uint32_t following_frames);
