// libFuzzer target: the package loader (descriptor, object sections, sound records) and the BMP
// reader on arbitrary bytes. A load may fail only with ESkinError; whatever loads must lay out,
// paint, build its regions and write itself back without fault.
#include <cstddef>
#include <cstdint>
#include <string>

#include "skin/skin_source.h"

using namespace quillon::skin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // The first byte picks the reader, so both get inputs shaped for them.
  if (!bytes.empty() && bytes[0] == 'B') {
    try {
      std::size_t pos = 0;
      auto bmp = TOmbraBmp::ReadBmp(bytes, pos);
      if (pos > bytes.size()) __builtin_trap();
      (void)bmp->KeyRuns(kSkinBlack);
    } catch (const ESkinError&) {
    }
    return 0;
  }
  TscSkinSource source;
  try {
    std::size_t pos = 0;
    source.LoadFromStream(bytes, pos);
    if (pos > bytes.size()) __builtin_trap();
  } catch (const ESkinError&) {
    return 0;
  }
  for (const auto& object : source.Objects) {
    object->SetBounds({0, 0, 160, 90});
    TOmbraBmp canvas(160, 90);
    object->Paint(canvas);
    (void)object->CreateRegion();
    (void)object->ObjectAt(80, 10);
  }
  std::string out;
  source.SaveToStream(out);
  return 0;
}
