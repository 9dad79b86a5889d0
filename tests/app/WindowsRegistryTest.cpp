// The default alias read from the real Windows registry (Wine's, in the Windows build's test
// run). The keys are written beforehand with "reg add" by the fixture in CMakeLists.txt:
//
//   HKCU\Software\TarvolenTest\Ordine\{A,B,C}      AliasName = primo, secondo, terzo
//   HKCU\Software\TarvolenTest\UltimaSenza\{A,B}   only A has AliasName
//   HKCU\Software\TarvolenTest\Numero\X            AliasName = 7, a REG_DWORD
//   HKCU\Software\TarvolenTest\Espandibile\X       AliasName = %USERNAME%_db, REG_EXPAND_SZ
//   HKCU\Software\TarvolenTest\Vuota               no subkeys

#include <gtest/gtest.h>

#include "app/settings/DefaultAlias.h"
#include "app/settings/WindowsRegistry.h"

namespace tarvolen::settings {
namespace {

TEST(WindowsRegistry, theLastSubkeysAliasIsTheDefault) {
    WindowsRegistry registry;
    const struct {
        const char* key;
        const char* alias;
    } cases[] = {
        {"Software\\TarvolenTest\\Ordine", "terzo"},
        {"\\Software\\TarvolenTest\\Ordine", "terzo"},  // one leading "\" ignored
        {"software\\tarvolentest\\ORDINE", "terzo"},    // names match without regard to case
        {"Software\\TarvolenTest\\UltimaSenza", ""},     // earlier subkeys never consulted
        {"Software\\TarvolenTest\\Espandibile", "%USERNAME%_db"},  // not expanded
        {"Software\\TarvolenTest\\Vuota", ""},
        {"Software\\TarvolenTest\\Mancante", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(readDefaultAlias(c.key, registry), c.alias) << c.key;
}

TEST(WindowsRegistry, anAliasStoredAsANumberIsAnError) {
    WindowsRegistry registry;
    try {
        readDefaultAlias("Software\\TarvolenTest\\Numero", registry);
        ADD_FAILURE() << "a number was taken for an alias";
    } catch (const InvalidDataType& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'AliasName'");
    }
}

TEST(WindowsRegistry, subkeysComeInTheRegistrysOrder) {
    WindowsRegistry registry;
    const auto key = registry.openCurrentUserKey("Software\\TarvolenTest\\Ordine");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->subkeyNames(), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(registry.openCurrentUserKey("Software\\TarvolenTest\\Mancante"), nullptr);
}

}  // namespace
}  // namespace tarvolen::settings
