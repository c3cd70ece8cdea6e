/* oldparleyd: the talk daemon of the old talk protocol (UDP 517). Started by
 * portwarden on the first control datagram; starts "oldparley" when the
 * console user accepts a call. */
#include <windows.h>

#include "talkdaemon.h"

namespace {

const TALK_FLAVOUR kFlavour = {&kOldTalkLayout, "oldparleyd", "OLDPARLEY.EXE not found", "Old Talk Request"};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  return ParleyWinMain(&kFlavour, instance, previous, commandLine, show);
}
