// The audio part of a frame packet: one packet per file track, decoded into
// the played tracks' rings.
#pragma once
#include <cstdint>

struct Movie;

// Walks the audio packets of all file tracks at the start of the frame packet
// (size bytes), decodes those of played tracks into their rings under the
// movie's sound mutex, and returns the offset at which the video data starts
// (at most size). Every length in the packet is checked against size.
// With `decode` (one flag per played track) only the flagged tracks decode;
// the others' packets are skipped as an unplayed track's are.
uint32_t MovieDecodeAudio(Movie* movie, const uint8_t* packet, uint32_t size,
                          const uint8_t* decode = nullptr);

