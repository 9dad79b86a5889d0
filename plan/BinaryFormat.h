#pragma once
// Constants of the binary form, shared by its reader and writer (layout in FORMAT.md).

#include <cstddef>
#include <cstdint>

#include "plan/DataPacket.h"

namespace tarvolen::binaryformat {

constexpr uint32_t kMagic = 0xBDE01996u;
constexpr uint32_t kHeaderSize = 24;
constexpr uint32_t kHoldsLayout = 1;     // property bit: the packet holds the field layout
constexpr uint32_t kHoldsRowOffset = 2;  // property bit: the header's last word is the row offset
constexpr size_t kPropertiesOffset = 18;
constexpr size_t kRowOffsetOffset = 22;
constexpr uint32_t kIntClass = 0x00010000u;
constexpr uint32_t kUIntClass = 0x00020000u;
constexpr uint32_t kStringClass = 0x00090000u;

// An 8-bit text (class 0x09 with the varying bit: 0x0049000n). As attributes, such texts count
// and carry a closing zero byte.
inline bool isTextWord(uint32_t typeWord) {
    return (typeWord & (typeword::kClassMask | typeword::kVarying)) ==
           (kStringClass | typeword::kVarying);
}

// Integer elements are all an attribute array can hold in memory.
inline bool isIntegerElement(uint32_t elementWord) {
    const uint32_t cls = elementWord & typeword::kClassMask;
    const uint32_t size = elementWord & typeword::kSizeMask;
    return (elementWord & ~(typeword::kClassMask | typeword::kSizeMask)) == 0 &&
           (cls == kIntClass || cls == kUIntClass) &&
           (size == 1 || size == 2 || size == 4 || size == 8);
}

}  // namespace tarvolen::binaryformat
