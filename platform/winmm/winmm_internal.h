// Shared by the files of the sound library (libqxwinmm.so).
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qx::winmm {

// SDL's audio subsystem, started once; false (with a trace line saying why)
// when no audio driver works here.
bool AudioReady();
// The SDL device name for a wave device number (nullptr: the default device;
// WAVE_MAPPER and 0 are the default); false for a number with no device.
bool DeviceName(UINT id, bool capture, const char *&name);
// SDL's description of a PCM format; false when it is not one we play.
bool SpecOf(const WAVEFORMATEX &format, SDL_AudioSpec &spec);

// A RIFF WAVE image: its PCM format and sample bytes.
struct WaveImage {
  WAVEFORMATEX format{};
  std::vector<std::uint8_t> data;
};
// Parses a RIFF WAVE image; false when it is not one (every chunk length is
// checked against the bytes there are).
bool ParseWave(const std::uint8_t *bytes, size_t size, WaveImage &out);
bool ReadWaveFile(const std::string &host_path, WaveImage &out);

// Plays an image on the default device: synchronously, or in the
// background (the sound before stops; while its device closes, the new one
// waits for it in the background). False when no device opens.
bool PlayImage(WaveImage image, bool wait, bool loop);
// Stops the sound playing in the background, if any, and closes its device.
void StopSound();
// True while a background sound plays.
bool SoundPlaying();

}  // namespace qx::winmm
