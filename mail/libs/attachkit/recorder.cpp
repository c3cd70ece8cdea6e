// The voice recorder behind MimeGetSpecial(4): the "Recording" dialog records
// from the default wave input device into a chain of one-second blocks, plays
// the recording back, and hands the chain to the mail client, which sends it
// later as mu-law audio. Buttons are tool bar buttons with faces of their own.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "module.h"
#include "recorder.h"
#include "special.h"
#include "toolbar.h"

namespace attachkit {
namespace {

constexpr size_t kBlockSamples = 8000;  // one second at 8000 bytes a second
constexpr size_t kSamplesAt = sizeof(WAVEHDR) + 4;
constexpr UINT kShowSize = 0x7000;

WAVEFORMATEX VoiceFormat() {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = 1;
  f.nSamplesPerSec = 8000;
  f.nAvgBytesPerSec = 8000;
  f.nBlockAlign = 1;
  f.wBitsPerSample = 8;
  return f;
}

// One block of the chain, kept locked while the chain exists.
struct Block {
  HGLOBAL handle;
  WAVEHDR *header;
};

struct Recorder {
  std::vector<Block> chain;  // in recording order; each header's lpNext is the next one's
  HWAVEIN input = nullptr;
  HWAVEOUT output = nullptr;
  WAVEHDR *lastPlayed = nullptr;
  HBITMAP strip = nullptr;
  bool toolbarReady = false;

  size_t Total() const {
    size_t total = 0;
    for (const Block &b : chain) total += b.header->dwBytesRecorded;
    return total;
  }
};

bool AddBlock(Recorder &r) {
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kSamplesAt + kBlockSamples);
  if (!handle) return false;
  auto *base = static_cast<uint8_t *>(GlobalLock(handle));
  if (!base) {
    GlobalFree(handle);
    return false;
  }
  auto *header = reinterpret_cast<WAVEHDR *>(base);
  header->lpData = reinterpret_cast<LPSTR>(base + kSamplesAt);
  header->dwBufferLength = kBlockSamples;
  header->dwUser = reinterpret_cast<DWORD_PTR>(handle);
  if (!r.chain.empty()) r.chain.back().header->lpNext = header;
  r.chain.push_back({handle, header});
  return true;
}

HGLOBAL First(const Recorder &r) { return r.chain.empty() ? nullptr : r.chain.front().handle; }

void FreeChain(Recorder &r) {
  if (HGLOBAL first = First(r)) FreeRecording(first);
  r.chain.clear();
}

void ShowSize(HWND dialog, const Recorder &r) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld Bytes", static_cast<long>(r.Total() * 8 / 6));
  SetDlgItemTextA(dialog, IDC_REC_SIZE, text);
}

void EnableButtons(HWND dialog, bool on) {
  for (int id : {int{IDC_REC_RECORD}, int{IDC_REC_PLAY}, int{IDC_REC_CLEAR}, IDOK, IDCANCEL})
    EnableWindow(GetDlgItem(dialog, id), on);
}

// Queues a block for recording from its start.
bool Queue(Recorder &r, WAVEHDR *h) {
  h->dwBufferLength = kBlockSamples;
  h->dwBytesRecorded = 0;
  h->dwFlags = 0;
  return waveInPrepareHeader(r.input, h, sizeof *h) == MMSYSERR_NOERROR &&
         waveInAddBuffer(r.input, h, sizeof *h) == MMSYSERR_NOERROR;
}

void Stop(HWND dialog, Recorder &r) {
  if (r.input) {
    HWAVEIN input = r.input;
    r.input = nullptr;  // blocks reported after this only count
    waveInStop(input);
    waveInReset(input);
    for (Block &b : r.chain) waveInUnprepareHeader(input, b.header, sizeof *b.header);
    waveInClose(input);
  }
  if (r.output) {
    HWAVEOUT output = r.output;
    r.output = nullptr;
    waveOutReset(output);
    for (Block &b : r.chain) {
      waveOutUnprepareHeader(output, b.header, sizeof *b.header);
      b.header->dwBufferLength = kBlockSamples;
    }
    waveOutClose(output);
  }
  EnableButtons(dialog, true);
  EnableWindow(GetDlgItem(dialog, IDC_REC_PLAY), r.Total() > 0);
  SetFocus(GetDlgItem(dialog, IDOK));
  ShowSize(dialog, r);
}

// Recording continues after what is recorded: full blocks and the samples of
// a partly filled one stay; the empty blocks behind them are used again.
void Record(HWND dialog, Recorder &r) {
  WAVEFORMATEX format = VoiceFormat();
  if (waveInOpen(&r.input, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(dialog), 0, CALLBACK_WINDOW) !=
      MMSYSERR_NOERROR) {
    r.input = nullptr;
    ErrorBox(dialog, LoadText(IDS_NO_RECORDER));
    EndDialog(dialog, 2);
    return;
  }
  size_t next = 0;
  while (next < r.chain.size() && r.chain[next].header->dwBytesRecorded > 0) ++next;
  for (int queued = 0; queued < 2; ++queued, ++next) {
    if (next == r.chain.size() && !AddBlock(r)) break;
    Queue(r, r.chain[next].header);
  }
  waveInStart(r.input);
  EnableButtons(dialog, false);
  SetFocus(GetDlgItem(dialog, IDC_REC_STOP));
}

void BlockRecorded(HWND dialog, Recorder &r, WAVEHDR *done) {
  // While recording, a full block is followed by a new one at the end of the
  // chain, so two stay queued. Blocks the device returns after Stop only count.
  if (r.input && done->dwBytesRecorded == done->dwBufferLength && AddBlock(r)) Queue(r, r.chain.back().header);
  ShowSize(dialog, r);
}

void Play(HWND dialog, Recorder &r) {
  WAVEFORMATEX format = VoiceFormat();
  if (waveOutOpen(&r.output, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(dialog), 0, CALLBACK_WINDOW) !=
      MMSYSERR_NOERROR) {
    r.output = nullptr;
    ErrorBox(dialog, LoadText(IDS_NO_PLAYER));
    return;
  }
  EnableButtons(dialog, false);
  SetFocus(GetDlgItem(dialog, IDC_REC_STOP));
  r.lastPlayed = nullptr;
  // Each block plays its recorded samples only.
  for (Block &b : r.chain) {
    if (b.header->dwBytesRecorded == 0) continue;
    b.header->dwBufferLength = b.header->dwBytesRecorded;
    b.header->dwFlags = 0;
    if (waveOutPrepareHeader(r.output, b.header, sizeof *b.header) != MMSYSERR_NOERROR ||
        waveOutWrite(r.output, b.header, sizeof *b.header) != MMSYSERR_NOERROR)
      break;
    r.lastPlayed = b.header;
  }
  if (!r.lastPlayed) Stop(dialog, r);  // nothing to play
}

HBITMAP MakeButtonFaces(HWND dialog);

INT_PTR CALLBACK RecorderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto *r = reinterpret_cast<Recorder *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
  if (message == WM_INITDIALOG) {
    r = reinterpret_cast<Recorder *>(lParam);
    SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
    r->strip = MakeButtonFaces(dialog);
    ToolbarInit(dialog, Instance());
    r->toolbarReady = true;
  }
  if (!r) return FALSE;
  LRESULT result = 0;
  if (ToolbarParentMsg(dialog, message, wParam, lParam, &result, r->strip, IDC_REC_RECORD, 4)) {
    SetWindowLongPtrA(dialog, DWL_MSGRESULT, result);
    return TRUE;
  }
  switch (message) {
    case WM_INITDIALOG: {
      WAVEFORMATEX format = VoiceFormat();
      if (waveInOpen(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR) {
        ErrorBox(dialog, LoadText(IDS_NO_RECORDER));
        EndDialog(dialog, 2);
        return TRUE;
      }
      EnableWindow(GetDlgItem(dialog, IDC_REC_PLAY), FALSE);
      ShowSize(dialog, *r);
      return TRUE;
    }
    case kShowSize: ShowSize(dialog, *r); return TRUE;
    case MM_WIM_DATA: BlockRecorded(dialog, *r, reinterpret_cast<WAVEHDR *>(lParam)); return TRUE;
    case MM_WOM_DONE:
      if (r->output && reinterpret_cast<WAVEHDR *>(lParam) == r->lastPlayed) Stop(dialog, *r);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_REC_RECORD: Record(dialog, *r); return TRUE;
        case IDC_REC_STOP: Stop(dialog, *r); return TRUE;
        case IDC_REC_PLAY: Play(dialog, *r); return TRUE;
        case IDC_REC_CLEAR:
          FreeChain(*r);
          ShowSize(dialog, *r);
          EnableWindow(GetDlgItem(dialog, IDC_REC_PLAY), FALSE);
          return TRUE;
        case IDOK:
          Stop(dialog, *r);
          EndDialog(dialog, 1);
          return TRUE;
        case IDCANCEL:
          Stop(dialog, *r);  // the device lets go of the blocks before they are freed
          FreeChain(*r);
          EndDialog(dialog, 0);
          return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      Stop(dialog, *r);
      if (r->strip) DeleteObject(r->strip);
      r->strip = nullptr;
      ToolbarFree();
      return FALSE;
  }
  return FALSE;
}

// The four faces (Record, Stop, Play, Clear), 16 by 14 each: grey glyphs on
// the pressed and disabled half, blue around them for the transparent parts.
HBITMAP MakeButtonFaces(HWND dialog) {
  constexpr int kW = 16, kH = 14, kCount = 4;
  HDC screen = GetDC(dialog);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP strip = CreateCompatibleBitmap(screen, 2 * kW, kCount * kH);
  ReleaseDC(dialog, screen);
  HGDIOBJ old = SelectObject(dc, strip);
  RECT all{0, 0, 2 * kW, kCount * kH};
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
  FillRect(dc, &all, blue);
  DeleteObject(blue);
  for (int half = 0; half < 2; ++half) {
    const COLORREF colours[kCount] = {RGB(192, 0, 0), RGB(0, 0, 0), RGB(0, 128, 0), RGB(128, 128, 0)};
    for (int i = 0; i < kCount; ++i) {
      HBRUSH brush = CreateSolidBrush(half ? RGB(128, 128, 128) : colours[i]);
      HPEN pen = CreatePen(PS_SOLID, 2, half ? RGB(128, 128, 128) : colours[i]);
      HGDIOBJ oldBrush = SelectObject(dc, brush), oldPen = SelectObject(dc, pen);
      const int x = half * kW, y = i * kH;
      if (i == 0) {
        Ellipse(dc, x + 4, y + 3, x + 12, y + 11);
      } else if (i == 1) {
        Rectangle(dc, x + 4, y + 3, x + 12, y + 11);
      } else if (i == 2) {
        const POINT triangle[3] = {{x + 5, y + 2}, {x + 12, y + 7}, {x + 5, y + 12}};
        Polygon(dc, triangle, 3);
      } else {
        MoveToEx(dc, x + 4, y + 3, nullptr);
        LineTo(dc, x + 12, y + 11);
        MoveToEx(dc, x + 12, y + 3, nullptr);
        LineTo(dc, x + 4, y + 11);
      }
      SelectObject(dc, oldBrush);
      SelectObject(dc, oldPen);
      DeleteObject(brush);
      DeleteObject(pen);
    }
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  return strip;
}

}  // namespace

HGLOBAL RecordVoice(HWND owner) {
  Recorder r;
  const INT_PTR end = DialogBoxParamA(Instance(), kRecordingDialog, owner, RecorderProc, reinterpret_cast<LPARAM>(&r));
  if (end != 1 || r.Total() == 0) {
    FreeChain(r);  // nothing recorded: no recording to send
    return nullptr;
  }
  return First(r);
}

}  // namespace attachkit
