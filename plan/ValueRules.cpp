#include "plan/ValueRules.h"

#include <algorithm>
#include <limits>

#include "plan/BinaryFormat.h"
#include "plan/FieldTypes.h"
#include "plan/PackedDecimal.h"
#include "plan/ValueText.h"

namespace tarvolen {
namespace {

// The longest value a length prefix of `prefixSize` bytes can count.
size_t prefixLimit(uint32_t prefixSize) {
    return prefixSize == 1 ? 0xFF : 0xFFFF;
}

bool wholeCharacters(std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0xD800 || c > 0xDFFF) continue;
        if (c > 0xDBFF || i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
            return false;
        }
        ++i;
    }
    return true;
}

bool packs(const std::string& text, uint32_t recordSize) {
    std::string record;
    return packDecimal(text, recordSize, record);
}

// The checks a value of `type` needs whatever holds it; `width` limits texts and bytes (0: no
// limit), `size` is the type word's size.
bool fitsType(FieldType type, uint32_t size, size_t width, const FieldValue& value) {
    if (isNull(value)) return true;
    switch (type) {
        case FieldType::Int16:
        case FieldType::Int32:
        case FieldType::Int64:
        case FieldType::UInt16:
        case FieldType::UInt32: {
            const auto* v = std::get_if<int64_t>(&value);
            return v != nullptr && fitsIntegerType(type, *v);
        }
        case FieldType::Boolean:
            return std::holds_alternative<bool>(value);
        case FieldType::Float:
            return std::holds_alternative<double>(value);
        case FieldType::Date:
        case FieldType::Time:
            return std::holds_alternative<int64_t>(value) && sayableAsText(type, value);
        case FieldType::DateTime:
            return std::holds_alternative<double>(value) && sayableAsText(type, value);
        case FieldType::SqlTimeStamp:
            return std::holds_alternative<SqlTimeStamp>(value) && sayableAsText(type, value);
        case FieldType::Bcd:
        case FieldType::FmtBcd: {
            const auto* text = std::get_if<std::string>(&value);
            return text != nullptr && packs(*text, size);
        }
        case FieldType::String: {
            // A single zero byte is how the binary form stores empty text.
            const auto* text = std::get_if<std::string>(&value);
            return text != nullptr && text->size() <= prefixLimit(size) &&
                   (width == 0 || text->size() <= width) && *text != std::string_view("\0", 1);
        }
        case FieldType::WideString: {
            const auto* text = std::get_if<std::u16string>(&value);
            return text != nullptr && 2 * text->size() <= prefixLimit(size) &&
                   (width == 0 || text->size() <= width) && wholeCharacters(*text);
        }
        case FieldType::Blob: {
            const auto* blob = std::get_if<BlobData>(&value);
            return blob != nullptr && *blob != nullptr &&
                   (*blob)->size() <= std::numeric_limits<uint32_t>::max();
        }
        case FieldType::Bytes: {
            const auto* bytes = std::get_if<std::string>(&value);
            return bytes != nullptr && bytes->size() <= size;
        }
    }
    return false;
}

}  // namespace

bool fitsField(const FieldDef& field, uint32_t typeWord, const FieldValue& value) {
    const int width = field.width();
    return fitsType(field.type, typeWord & typeword::kSizeMask,
                    width > 0 ? static_cast<size_t>(width) : 0, value);
}

bool fitsAttribute(uint32_t typeWord, const FieldValue& value) {
    if ((typeWord & typeword::kArray) != 0) return std::holds_alternative<IntArray>(value);
    FieldType type{};
    switch (lookupTypeWord(typeWord, type)) {
        case TypeLookup::Invalid:
            return false;
        case TypeLookup::Dropped:
            return std::holds_alternative<int64_t>(value);
        case TypeLookup::Field:
            break;
    }
    const uint32_t size = typeWord & typeword::kSizeMask;
    switch (type) {
        case FieldType::Int16:
        case FieldType::Int32:
        case FieldType::Int64:
        case FieldType::UInt16:
        case FieldType::UInt32:
            return std::holds_alternative<int64_t>(value);
        case FieldType::String: {
            // Counted with a closing zero, unless a text fills the whole length without one.
            const auto* text = std::get_if<std::string>(&value);
            const size_t limit = prefixLimit(size);
            return text != nullptr &&
                   (text->size() + 1 <= limit || (text->size() == limit && text->back() != '\0'));
        }
        default:
            return !isNull(value) && fitsType(type, size, 0, value);
    }
}

uint32_t storedAttributeWord(uint32_t typeWord, const FieldValue& value) {
    const uint32_t element = typeWord & ~typeword::kArray;
    if (!binaryformat::isIntegerElement(element)) return typeWord;
    const uint32_t size = element & typeword::kSizeMask;
    const bool isSigned = (element & typeword::kClassMask) == binaryformat::kIntClass;
    auto fits = [&](int64_t v) {
        if (size >= 8) return true;
        const int bits = static_cast<int>(size * 8);
        const int64_t low = isSigned ? -(int64_t{1} << (bits - 1)) : 0;
        const int64_t high = isSigned ? (int64_t{1} << (bits - 1)) - 1 : (int64_t{1} << bits) - 1;
        return v >= low && v <= high;
    };
    if ((typeWord & typeword::kArray) != 0) {
        const auto* numbers = std::get_if<IntArray>(&value);
        const bool allFit =
            numbers == nullptr || std::all_of(numbers->begin(), numbers->end(), fits);
        return allFit ? typeWord : typeword::kArray | typeword::kInt64;
    }
    const auto* number = std::get_if<int64_t>(&value);
    return number == nullptr || fits(*number) ? typeWord : typeword::kInt64;
}

FieldValue fieldFormOf(const FieldDef& field, FieldValue value, size_t length) {
    const int width = field.width();
    size_t limit = width > 0 ? static_cast<size_t>(width) : 0;
    if (length > 0) limit = limit == 0 ? length : std::min(limit, length);
    switch (field.type) {
        case FieldType::String:
            if (auto* text = std::get_if<std::string>(&value)) {
                if (limit > 0 && text->size() > limit) text->resize(limit);
                // A single zero byte is the binary form's empty text.
                if (*text == std::string_view("\0", 1)) text->clear();
            }
            break;
        case FieldType::WideString:
            if (auto* text = std::get_if<std::u16string>(&value); text != nullptr && limit > 0) {
                cutWideText(*text, limit);
            }
            break;
        case FieldType::Bcd:
        case FieldType::FmtBcd:
            if (auto* text = std::get_if<std::string>(&value)) {
                if (packs(*text, storedTypeWord(field) & typeword::kSizeMask)) {
                    *text = canonicalDecimal(*text);
                }
            }
            break;
        case FieldType::Bytes:
            if (auto* bytes = std::get_if<std::string>(&value); bytes != nullptr && width > 0) {
                if (bytes->size() < static_cast<size_t>(width)) {
                    bytes->resize(static_cast<size_t>(width), '\0');
                }
            }
            break;
        default:
            break;
    }
    return value;
}

}  // namespace tarvolen
