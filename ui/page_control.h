// A page control: a tab control whose tab sheets are panels laid over its display area; exactly one
// sheet, the active page, is visible. Setting the active page from code raises no OnChange; the
// user's tab change does. A page change never leaves the focus on a control of a hidden page.
#pragma once

#include <string>
#include <vector>

#include "ui/control.h"
#include "ui/std_controls.h"

namespace quillon::ui {

class TTabbedPages;

class TTabPage : public TPanelBox {
 public:
  TTabPage(TTabbedPages* pages, std::string name, const std::string& caption);
  ~TTabPage() override;

 private:
  TTabbedPages* pages_;
};

class TTabbedPages : public TWindowControl {
 public:
  TTabbedPages(TWindowControl* parent, std::string name, int left, int top, int width, int height);

  // Adds a sheet as the last tab (the sheet is owned by the caller's form like any control).
  void AddSheet(TTabPage* sheet, const std::string& caption);
  // Forgets a sheet that is being destroyed (its tab stays).
  void RemoveSheet(TTabPage* sheet);
  int PageCount() const { return static_cast<int>(sheets_.size()); }
  TTabPage* Page(int index) const { return sheets_.at(static_cast<size_t>(index)); }
  std::string TabCaption(int index) const;

  int ActivePageIndex() const;
  void SetActivePageIndex(int index);
  // The next (or previous) page, wrapping around, as if the user had clicked its tab: OnChange runs.
  void SelectNextPage(bool forward);

  TEventHandler OnChange;

 protected:
  bool Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void AlignChildren() override;

 private:
  void ShowActiveSheet();
  std::vector<TTabPage*> sheets_;
};

}  // namespace quillon::ui
