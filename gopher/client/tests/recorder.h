// A GopherUi that records what a person would have seen and answers the
// dialogs as the test scripted them.
#ifndef QX_GOPHER_TESTS_RECORDER_H
#define QX_GOPHER_TESTS_RECORDER_H

#include "gophercore.h"

#include <algorithm>
#include <string>
#include <vector>

namespace gophertest {

struct Box {
  std::string text, caption;
};

class RecorderUi : public GopherUi {
 public:
  int Message(const char *text, const char *caption, UINT type) override {
    boxes.push_back({text, caption});
    return (type & MB_YESNO) ? answerYesNo : IDOK;
  }
  void SetStatus(const char *text) override { status.push_back(text); }
  void DocumentReset() override { rows.clear(); }
  void DocumentAddRow(long offset) override { rows.push_back(offset); }
  void DocumentDone(long length) override {
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](long r) { return r >= length; }), rows.end());
  }
  void MeasureLine(std::string_view line) override { widest = std::max(widest, line.size()); }
  bool AskSearchWords(const GopherItem &, std::string *words) override {
    ++searchAsked;
    *words = searchWords;
    return !searchWords.empty();
  }
  bool AskSaveFileName(const std::string &proposed, int filter, const char *extension, std::string *path) override {
    saveProposed = proposed;
    saveFilter = filter;
    saveExtension = extension;
    *path = savePath;
    return !savePath.empty();
  }
  bool RunCsoDialog(const GopherItem &item, std::string *query) override {
    csoFieldsSeen = item.csoFields.value_or("?");
    if (csoValue.empty()) return false;
    const CSO_FORM form = CsoFormOf(*item.csoFields);
    *query = BuildCsoQuery(form.keys.empty() ? "name" : form.keys[form.keySelection], csoValue, form.returnRows,
                           csoSelected);
    return true;
  }
  void StartProgram(const std::string &commandLine) override { started.push_back(commandLine); }
  void OpenDocument(const std::string &path) override { opened.push_back(path); }

  std::string BoxTexts() const {
    std::string all;
    for (const Box &b : boxes) all += b.caption + ": " + b.text + "\n";
    return all;
  }

  std::vector<Box> boxes;
  std::vector<std::string> status;
  std::vector<long> rows;
  size_t widest = 0;
  int answerYesNo = IDNO;
  int searchAsked = 0;
  std::string searchWords;
  std::string savePath, saveProposed, saveExtension;
  int saveFilter = 0;
  std::string csoValue, csoFieldsSeen;
  std::vector<bool> csoSelected;
  std::vector<std::string> started, opened;
};

}  // namespace gophertest

#endif
