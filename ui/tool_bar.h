// A flat tool bar with buttons showing images of an image list, each with a hint and an OnClick.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/control.h"

namespace quillon::ui {

// Images of one size; a bitmap resource is cut into square images, magenta being transparent.
class TImageList : public TComponent {
 public:
  TImageList(std::string name, int width, int height);
  ~TImageList() override;
  // Adds the images of a bitmap resource of the running program; false when it is missing.
  bool AddResourceBitmap(const char* resourceName);
  int Count() const { return ImageList_GetImageCount(handle_); }
  HIMAGELIST Handle() const { return handle_; }

 private:
  HIMAGELIST handle_;
};

class TToolButton : public TComponent {
 public:
  TToolButton(std::string name, int imageIndex, std::string hint)
      : TComponent(std::move(name)), ImageIndex(imageIndex), Hint(std::move(hint)) {}
  int ImageIndex;
  std::string Hint;
  TEventHandler OnClick;
  int Command = 0;
  void Click() {
    if (OnClick) OnClick(*this);
  }
};

class TToolBar : public TControl {
 public:
  TToolBar(TControl* parent, std::string name, int left, int top, int width, int height);
  void SetImages(TImageList* images);
  TToolButton* AddButton(std::string name, int imageIndex, std::string hint);
  void AddSeparator();
  const std::vector<std::unique_ptr<TToolButton>>& Buttons() const { return buttons_; }

 protected:
  bool Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  TToolButton* Find(int command) const;
  std::vector<std::unique_ptr<TToolButton>> buttons_;
  int nextCommand_ = 1;
};

}  // namespace quillon::ui
