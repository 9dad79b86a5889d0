#pragma once
// Constants of the binary form, shared by its reader and writer (layout in FORMAT.md).

#include <cstddef>
#include <cstdint>

namespace tarvolen::binaryformat {

constexpr uint32_t kMagic = 0xBDE01996u;
constexpr uint32_t kHeaderSize = 24;
constexpr uint32_t kHoldsLayout = 1;     // property bit: the packet holds the field layout
constexpr uint32_t kHoldsRowOffset = 2;  // property bit: the header's last word is the row offset
constexpr size_t kPropertiesOffset = 18;
constexpr size_t kRowOffsetOffset = 22;
constexpr uint32_t kStringClass = 0x00490000u;
constexpr uint32_t kIntClass = 0x00010000u;
constexpr uint32_t kUIntClass = 0x00020000u;

}  // namespace tarvolen::binaryformat
