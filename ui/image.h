// A picture control: shows a decoded picture stretched over its whole client area.
#pragma once

#include <string>

#include "ui/control.h"
#include "ui/jpeg_picture.h"

namespace quillon::ui {

class TPictureBox : public TWindowControl {
 public:
  TPictureBox(TWindowControl* parent, std::string name, int left, int top, int width, int height);
  void SetPicture(TPictureData picture);
  const TPictureData& Picture() const { return picture_; }
  // Decodes a JPEG resource (type RCDATA) of the running program; raises EInvalidGraphic when it is
  // missing or unreadable.
  void LoadJpegResource(const char* resourceName);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  TPictureData picture_;
};

}  // namespace quillon::ui
