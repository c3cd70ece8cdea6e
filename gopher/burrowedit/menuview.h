// The menu editor's document (the rows of one menu file), its view (the rows
// in a list box, with the editing commands and the clipboard) and the menu
// item dialog.
#ifndef QX_BURROWEDIT_MENUVIEW_H
#define QX_BURROWEDIT_MENUVIEW_H

#include <string>
#include <vector>

#include "docview.h"
#include "menufile.h"

// Tells a person about lines that are not menu items: the first in a box of
// its own, the rest counted in one box at the end.
class LineReport {
 public:
  LineReport() = default;
  ~LineReport();
  LineReport(const LineReport &) = delete;
  LineReport &operator=(const LineReport &) = delete;
  LineProblem Sink();
  void Finish();

 private:
  int count_ = 0;
};

class CBurroweditDoc : public Document {
 public:
  void Serialize(Archive &archive) override;
  void DeleteContents() override { rows_.Clear(); }

  int GetItemCount() const { return rows_.GetItemCount(); }
  std::string GetItem(int index) const { return rows_.GetItem(index); }
  // Each sets the modified flag (SetItem only when it stores the row).
  void SetItem(int index, const std::string &row);
  void InsertItem(int index, const std::string &row);
  void DeleteItem(int index);

 private:
  MenuRows rows_;
};

// The five fields of one menu item, exchanged with the dialog's controls.
class CMenuItemDlg {
 public:
  std::string type, display, resource, host, port;
  INT_PTR DoModal(HWND owner);

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp);
  void DoDataExchange(HWND dialog, bool save);
  void OnInitDialog(HWND dialog);
  bool OnOK(HWND dialog);
  static std::string CMenuItemDlg::*const kEditFields[4];
  static const int kEditIds[4];
};

class CBurroweditView : public View {
 public:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnUpdate(View *sender) override;
  bool OnCmdMsg(UINT id, CmdUI *query) override;

  void OnInsertItem();
  void OnEditItem();
  void OnDeleteItems();
  void OnCopyItems();
  void OnCutItems();
  void OnPasteItems();
  void OnUpdateOneSelected(CmdUI &ui);
  void OnUpdateAnySelected(CmdUI &ui);
  void OnUpdatePaste(CmdUI &ui);

 private:
  CBurroweditDoc *Doc() const { return static_cast<CBurroweditDoc *>(GetDocument()); }
  LRESULT OnCreate();
  void OnSize();
  RECT ListRect() const;
  std::vector<int> SelectedIndexes() const;
  std::string RowFromDialog(const CMenuItemDlg &dlg);
  // Removes the rows (indexes ascending) from the list and the document.
  void RemoveRows(const std::vector<int> &selected, bool updateEach);
  bool CopySelection();

  HWND list_ = nullptr;
  std::string scratch_;  // the row of the item inserted or edited last
};

#endif
