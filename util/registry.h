// The one registry write of the program.
#pragma once

#include <string>

#include "util/platform.h"

namespace quillon {

using platform::RegistryRoot;

// Creates the key when missing and writes a string value; does nothing when the key cannot be
// opened or created (and everywhere without a registry).
void WriteRegString(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                    const std::string& value);

}  // namespace quillon
