#include "app/settings/WindowsRegistry.h"

#include "base/os/Registry.h"

namespace tarvolen::settings {
namespace {

// An open key of the Windows registry, as the lookup sees keys.
class WindowsKey : public RegistryKey {
  public:
    explicit WindowsKey(std::unique_ptr<os::RegistryHandle> key) : m_key(std::move(key)) {}

    static std::unique_ptr<RegistryKey> wrap(std::unique_ptr<os::RegistryHandle> key) {
        return key ? std::make_unique<WindowsKey>(std::move(key)) : nullptr;
    }

    std::vector<std::string> subkeyNames() const override { return m_key->subkeyNames(); }

    std::unique_ptr<RegistryKey> openSubkey(std::string_view name) const override {
        return wrap(m_key->openSubkey(name));
    }

    std::optional<RegistryValue> queryValue(std::string_view name) const override {
        auto stored = m_key->value(name);
        if (!stored) return std::nullopt;
        RegistryValue value;
        value.type = stored->type;
        value.wideStrings = true;
        value.data = std::move(stored->data);
        return value;
    }

  private:
    std::unique_ptr<os::RegistryHandle> m_key;
};

}  // namespace

std::unique_ptr<RegistryKey> WindowsRegistry::openCurrentUserKey(std::string_view path) {
    return WindowsKey::wrap(os::RegistryHandle::openCurrentUser(path));
}

}  // namespace tarvolen::settings
