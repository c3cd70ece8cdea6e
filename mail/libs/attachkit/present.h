// Showing and playing received parts: the desktop's viewer through the shell,
// the wave output device, and the GIF picture side (viewer, BMP encoder).
#ifndef QX_ATTACHKIT_PRESENT_H
#define QX_ATTACHKIT_PRESENT_H

#include <string>

#include "audio.h"
#include "codec.h"
#include "input.h"

namespace attachkit {

// Opens a file with the program associated with its type, started in the
// user's temp folder; false when the shell could not.
bool OpenWithShell(const std::string &path);

// Plays the samples of a wave file this library wrote (8-bit PCM behind a
// 44-byte header) on the default wave output device and returns when they
// have been played; false when no device could be opened for them.
bool PlayWaveFile(const std::string &path);

// The GIF picture side: the viewer window and the BMP to GIF encoder (the
// GIF library's). ShowGif opens a viewer of the picture's own in the calling
// thread and answers true; the viewer deletes the file when it closes. False
// (and the file stays) when the file is no GIF picture it can show.
bool ShowGif(const std::string &path);
// Closes every open viewer (before the library is unloaded).
void CloseViewers();
enum class GifEncodeResult { kEncoded = 0, kNotBitmap = 1, kTooManyColours = 2, kNoEncoder = 3 };
// Reads a bitmap file and writes the GIF stream through out. Writes nothing
// unless it succeeds.
GifEncodeResult EncodeBitmapAsGif(RandomReader &bitmap, uint64_t size, Base64LineWriter &out);

}  // namespace attachkit

#endif
