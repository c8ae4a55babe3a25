#include "util/registry.h"

namespace quillon {

void WriteRegString(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                    const std::string& value) {
  platform::WriteRegistryString(root, keyPath, valueName, value);
}

}  // namespace quillon
