// A movie's two clients of the background service threads: its reader node
// (read-ahead) and its sound node (feeding the sound drivers).
#pragma once
#include <cstdint>

#include "input/io_reader.h"

struct Movie;

// Registers the movie with the service threads, creating each thread with its
// first user: the sound node when tracks play (sound_on becomes 1), the
// reader node unless the movie is preloaded or OPEN_NO_THREAD is set. A node
// that cannot be registered still gets its mutex when possible; its work then
// happens on the player's thread only. Called when the tracks and the reader
// are complete: from here on the threads may service the movie at any time.
void MovieServiceAttach(Movie* movie);
// Removes the movie's nodes and closes their mutexes; a thread whose last
// node leaves is stopped, so the next open creates it again.
void MovieServiceDetach(Movie* movie);

// The node functions (exposed for tests).
uint32_t MovieReaderPoll(ServiceNode* node, uint32_t tick);
void MovieReaderService(ServiceNode* node, uint32_t tick);
uint32_t MovieSoundPoll(ServiceNode* node, uint32_t tick);
void MovieSoundService(ServiceNode* node, uint32_t tick);
