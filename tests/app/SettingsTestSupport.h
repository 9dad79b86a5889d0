#pragma once
// Files for the settings tests: a temporary folder, and text in the encodings the registry
// editor and Windows editors write.

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tests/support/TestFolder.h"

namespace tarvolen::settings::testing {

// A fresh folder, removed with everything in it at the end of the test, that writes files.
class TempFolder : public tarvolen::testing::TempFolder {
  public:
    std::filesystem::path write(const std::string& name, std::string_view bytes) const {
        const auto file = path() / name;
        std::ofstream(file, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }
};

// UTF-8 text as UTF-16LE bytes, without a byte-order mark (BMP characters only).
inline std::string utf16le(std::string_view utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        char32_t cp = b;
        size_t length = 1;
        if (b >= 0xE0) {
            cp = b & 0x0F;
            length = 3;
        } else if (b >= 0xC0) {
            cp = b & 0x1F;
            length = 2;
        }
        for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
        i += length;
        out += static_cast<char>(cp & 0xFF);
        out += static_cast<char>(cp >> 8);
    }
    return out;
}

// UTF-8 text as the registry editor exports version 5.00 files: UTF-16LE with its mark.
inline std::string utf16leWithBom(std::string_view utf8) {
    return "\xFF\xFE" + utf16le(utf8);
}

}  // namespace tarvolen::settings::testing
