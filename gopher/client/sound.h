// burrowview's sound items, played while they arrive: Sun audio (by its
// header: 8-bit mu-law, 8-bit or 16-bit linear), RIFF wave files of PCM
// samples, and bare mu-law at 8000 Hz after 28 bytes, as older servers send
// it. The samples go to the wave output device in buffers: the first once
// the chosen pre-buffer has arrived, then one a second while the device
// still plays.
#ifndef QX_GOPHER_CLIENT_SOUND_H
#define QX_GOPHER_CLIENT_SOUND_H

#include <cstddef>
#include <vector>

// Starts a sound item with a pre-buffer of `seconds`: 1 when it is to be
// played, 0 when it is to be saved instead (seconds is 0, "Save To File",
// or no wave output device can be opened).
int SoundOpen(int seconds);
// Takes one received block.
void SoundFeed(const char *bytes, int count);
// Ends the item: when the transfer completed, what is left plays and the
// call returns when the device has played it all; otherwise the sound stops
// at once. A sound that could not be played is told about here.
void SoundFinish(bool completed);

// The sizes of the buffers handed to the device since SoundOpen, in order.
const std::vector<size_t> &SoundWrittenSizes();

#endif
