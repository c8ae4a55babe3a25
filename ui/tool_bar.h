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
class TImageStrip : public TOwnedObject {
 public:
  TImageStrip(std::string name, int width, int height);
  ~TImageStrip() override;
  // Adds the images of a bitmap resource of the running program; false when it is missing.
  bool AddResourceBitmap(const char* resourceName);
  int Count() const { return ImageList_GetImageCount(handle_); }
  HIMAGELIST Handle() const { return handle_; }

 private:
  HIMAGELIST handle_;
};

class TBarButton : public TOwnedObject {
 public:
  TBarButton(std::string name, int imageIndex, std::string hint)
      : TOwnedObject(std::move(name)), ImageIndex(imageIndex), Hint(std::move(hint)) {}
  int ImageIndex;
  std::string Hint;
  TEventHandler OnClick;
  int Command = 0;
  void Click() {
    if (OnClick) OnClick(*this);
  }
};

class TButtonBar : public TWindowControl {
 public:
  TButtonBar(TWindowControl* parent, std::string name, int left, int top, int width, int height);
  void SetImages(TImageStrip* images);
  TBarButton* AddButton(std::string name, int imageIndex, std::string hint);
  void AddSeparator();
  const std::vector<std::unique_ptr<TBarButton>>& Buttons() const { return buttons_; }

 protected:
  bool Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  // Arrow keys choose a button, Enter and Space press it (the bar is a tab stop).
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  TBarButton* Find(int command) const;
  // The index of the next enabled button after from in direction step (+1 or -1), -1 when none.
  int NextButtonIndex(int from, int step) const;
  std::vector<std::unique_ptr<TBarButton>> buttons_;
  int nextCommand_ = 1;
};

}  // namespace quillon::ui
