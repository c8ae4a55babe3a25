// TscPageControl: the page control that paints its page frame and tabs from the skin of its
// engine when that skin has a page-control tree, and is the plain page control otherwise.
// The private tree is a copy taken at each skin-changed notice (message 1133).
#pragma once

#include <memory>

#include "skin/skin_objects.h"
#include "ui/page_control.h"

namespace quillon::skin {

class TscSkinEngine;

class TscPageControl : public ui::TTabbedPages {
 public:
  using ui::TTabbedPages::TTabbedPages;

  TscSkinEngine* SkinEngine() const { return engine_; }
  void SetSkinEngine(TscSkinEngine* engine);
  // Skinned: an engine with a source whose first pagecontrol object has children.
  bool Skinned() const;
  const TscSkinObject& SkinTree() const { return *tree_; }
  // Paints the whole control (page area, then every tab) into canvas as the skin shows it.
  void PaintSkinned(TOmbraBmp& canvas);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void SkinChanged();
  void PaintTab(TOmbraBmp& canvas, int index, bool active, const TSkinRect& rect);
  void EraseWithParent(HDC dc);
  TscSkinEngine* engine_ = nullptr;
  std::unique_ptr<TscSkinObject> tree_ = std::make_unique<TscSkinObject>();
};

}  // namespace quillon::skin
