#pragma once
// The Windows registry below HKEY_CURRENT_USER. Compiled on Windows only.

#include "app/settings/RegistrySource.h"

namespace tarvolen::settings {

class WindowsRegistry : public RegistrySource {
  public:
    std::unique_ptr<RegistryKey> openCurrentUserKey(std::string_view path) override;
};

}  // namespace tarvolen::settings
