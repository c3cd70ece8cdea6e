/* parleyd: the talk daemon of the new talk protocol (UDP 518). Started by
 * portwarden on the first control datagram; starts "parley" when the
 * console user accepts a call. */
#include <windows.h>

#include "talkdaemon.h"

namespace {

const TALK_FLAVOUR kFlavour = {&kNewTalkLayout, "parleyd", "PARLEY.EXE not found", "New Talk Request"};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  return ParleyWinMain(&kFlavour, instance, previous, commandLine, show);
}
