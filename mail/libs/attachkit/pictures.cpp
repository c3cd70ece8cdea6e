// The GIF picture side as this library reaches it (see present.h). The GIF
// decoder, viewer window and BMP encoder are a part of the mail libraries of
// their own; these entry points are where they plug in.
#include "present.h"

namespace attachkit {

bool ShowGif(const std::string &) { return false; }

GifEncodeResult EncodeBitmapAsGif(RandomReader &, uint64_t, Base64LineWriter &) { return GifEncodeResult::kNoEncoder; }

}  // namespace attachkit
