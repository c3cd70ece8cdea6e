// The terminal core's file and printer interfaces on the platform layer: set-up
// files are found, read and written with OpenFile and the file calls, and the
// print destination is opened with CreateFileA, so DOS names ("C:\QX\A.STU"),
// the search order for bare names and the printer devices ("PRN:", "LPT1:")
// behave as everywhere else in a program of the suite.
#ifndef QX_TERMINAL_HOST_LAYER_HOST_H
#define QX_TERMINAL_HOST_LAYER_HOST_H

#include <windows.h>

#include <string>

#include "vt_core.h"

class LayerTermFiles : public TermFiles {
 public:
  // A name with a directory or drive is taken as it is; a bare name is looked
  // for in the current directory, the program's directory, the system and
  // Windows directories and along PATH. The result is the full Windows name.
  std::string FindSetupFile(const char *name) override;
  long ReadSetupFile(const std::string &found, void *buffer, size_t size) override;
  WriteResult WriteSetupFile(const char *name, const void *data, size_t size) override;
};

// The print destination: a printer device starts a print job, any other name
// is a file that is appended to (and made when missing).
class LayerTermPrinter : public TermPrinter {
 public:
  ~LayerTermPrinter() override;
  bool Open(const char *name) override;
  bool IsOpen() override { return file_ != INVALID_HANDLE_VALUE; }
  void Write(const unsigned char *data, size_t length) override;
  void Close() override;

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

#endif
