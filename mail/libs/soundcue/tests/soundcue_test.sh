#!/bin/sh
# soundcue on SDL's disk audio driver: Sun audio (with the standard header,
# and without one), a RIFF wave file, files with nothing to play and a missing
# file. What reaches the device must be the file's samples (mu-law expanded
# as the mail libraries expand it); every run ends with exit code 0.
set -u
soundcue=$1
dir=$(mktemp -d /tmp/qxsoundcue.XXXXXX)
trap 'rm -rf "$dir"' EXIT
export QX_HOME="$dir/home" QX_RUNTIME_DIR="$dir/run" QX_DISPLAY=headless QX_AUTOMATION=0
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$dir/played.raw"
unset DISPLAY QX_MSGBOX
mkdir -p "$QX_HOME" "$QX_RUNTIME_DIR"
failed=0

python3 - "$dir" <<'PY'
import struct, sys, wave, math
d = sys.argv[1]
mulaw = bytes((i * 37 + 11) % 256 for i in range(4000))
open(d + "/standard.au", "wb").write(struct.pack(">4sIIIII", b".snd", 24, len(mulaw), 1, 8000, 1) + mulaw)
open(d + "/plain.au", "wb").write(bytes(32) + mulaw)
open(d + "/short.au", "wb").write(bytes(32))
open(d + "/linear.au", "wb").write(struct.pack(">4sIIIII", b".snd", 24, 8000, 3, 8000, 1) + bytes(8000))
w = wave.open(d + "/tone.wav", "wb")
w.setnchannels(1); w.setsampwidth(1); w.setframerate(8000)
w.writeframes(bytes(int(128 + 100 * math.sin(i / 5)) for i in range(6000)))
w.close()
# The expansion the mail libraries use: G.711 to 16 bits, >> 8, + 128.
def expand(u):
    u = ~u & 0xFF
    t = ((u & 0x0F) << 3) + 0x84
    t <<= (u & 0x70) >> 4
    v = (0x84 - t) if (u & 0x80) else (t - 0x84)
    return ((v >> 8) + 128) & 0xFF
open(d + "/expected.raw", "wb").write(bytes(expand(b) for b in mulaw))
open(d + "/tone.raw", "wb").write(bytes(int(128 + 100 * math.sin(i / 5)) for i in range(6000)))
PY

# play FILE: runs soundcue on it; its standard error in $dir/err.
play() {
  rm -f "$SDL_DISKAUDIOFILE"
  timeout 30 "$soundcue" "$1" > /dev/null 2> "$dir/err"
  code=$?
  if [ $code -ne 0 ]; then echo "FAIL: soundcue $1 exited with $code"; failed=1; fi
}
# holds EXPECTED: the played bytes contain the expected ones in order.
holds() {
  python3 -c "import sys; p=open(sys.argv[1],'rb').read() if __import__('os').path.exists(sys.argv[1]) else b''; sys.exit(0 if open(sys.argv[2],'rb').read() in p else 1)" "$SDL_DISKAUDIOFILE" "$1"
}
silent() {
  [ ! -s "$SDL_DISKAUDIOFILE" ] || python3 -c "import sys; sys.exit(0 if set(open(sys.argv[1],'rb').read()) <= {128} else 1)" "$SDL_DISKAUDIOFILE"
}

play "$dir/standard.au"
holds "$dir/expected.raw" || { echo "FAIL: Sun audio with a 24-byte header: the samples did not reach the device"; failed=1; }
play "$dir/plain.au"
holds "$dir/expected.raw" || { echo "FAIL: Sun audio without a header: the samples after 32 bytes did not reach the device"; failed=1; }
play "$dir/tone.wav"
holds "$dir/tone.raw" || { echo "FAIL: a RIFF wave file did not play through the sound library"; failed=1; }
play "$dir/short.au"
silent || { echo "FAIL: a 32-byte file played something"; failed=1; }
play "$dir/linear.au"
silent || { echo "FAIL: 16-bit linear Sun audio was played as mu-law"; failed=1; }
play "$dir/missing.au"
grep -q "Unable to open audio file" "$dir/err" || { echo "FAIL: no message for a missing file"; cat "$dir/err"; failed=1; }

[ $failed -eq 0 ] && echo "soundcue: all cases passed"
exit $failed
