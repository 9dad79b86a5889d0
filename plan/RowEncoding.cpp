#include "plan/RowEncoding.h"

#include <bit>
#include <string>

namespace tarvolen::rowencoding {
namespace {

template <typename T>
T& slotAs(FieldValue& slot) {
    if (auto* v = std::get_if<T>(&slot)) return *v;
    return slot.emplace<T>();
}

}  // namespace

// Past the end of the item at `p`.
const uint8_t* itemEnd(const uint8_t* p) {
    size_t count = 0;
    bool carried = false;
    if (readRun(p, count, carried)) return p;
    const uint8_t t = *p++;
    switch (t) {
        case tag::kExplicitNull:
        case tag::kFalse:
        case tag::kTrue:
            return p;
        case tag::kInt8:
            return p + 1;
        case tag::kInt16:
            return p + 2;
        case tag::kInt32:
        case tag::kUInt32:
            return p + 4;
        case tag::kInt64:
        case tag::kDouble:
            return p + 8;
        case tag::kText:
        case tag::kBlob: {
            const uint64_t n = readVarint(p);
            return p + n;
        }
        case tag::kPaddedText: {
            const uint64_t n = readVarint(p);
            p += n;
            readVarint(p);
            return p;
        }
        case tag::kDecimal: {
            ++p;
            readVarint(p);
            const uint64_t digits = readVarint(p);
            return p + (digits + 1) / 2;
        }
        case tag::kWide: {
            const uint64_t n = readVarint(p);
            return p + 2 * n;
        }
        case tag::kNarrowWide: {
            const uint64_t n = readVarint(p);
            return p + n;
        }
        case tag::kTimeStamp:
            return p + 16;
        case tag::kIntArray: {
            const uint64_t n = readVarint(p);
            for (uint64_t i = 0; i < n; ++i) readVarint(p);
            return p;
        }
        default:
            return p;  // not reached: the store writes only the tags above
    }
}

// The bytes of a text or blob item.
std::string_view itemBytes(const uint8_t* p) {
    ++p;
    const auto n = static_cast<size_t>(readVarint(p));
    return {reinterpret_cast<const char*>(p), n};
}

namespace {

// A decimal item (tag, sign, decimals, digit count, digits two to a byte) as its text: "-12.50",
// "0.05".
void decodeDecimal(const uint8_t* p, std::string& text) {
    const uint8_t* q = p + 1;
    const bool negative = (*q++ & 1) != 0;
    const auto decimals = static_cast<size_t>(readVarint(q));
    const auto count = static_cast<size_t>(readVarint(q));
    std::string digits(count, '0');
    for (size_t i = 0; i < count; ++i) {
        const unsigned byte = q[i / 2];
        digits[i] = static_cast<char>('0' + (i % 2 == 0 ? byte >> 4 : byte & 0x0F));
    }
    text.clear();
    if (negative) text += '-';
    if (count > decimals) {
        text.append(digits, 0, count - decimals);
    } else {
        text += '0';
    }
    if (decimals > 0) {
        text += '.';
        if (count < decimals) text.append(decimals - count, '0');
        text.append(digits, count > decimals ? count - decimals : 0, std::string::npos);
    }
}

// A time stamp item: the tag, then its parts in fixed widths.
SqlTimeStamp decodeTimeStamp(const uint8_t* p) {
    SqlTimeStamp ts;
    ts.year = static_cast<int16_t>(readFixed(p + 1, 2));
    ts.month = static_cast<uint16_t>(readFixed(p + 3, 2));
    ts.day = static_cast<uint16_t>(readFixed(p + 5, 2));
    ts.hour = static_cast<uint16_t>(readFixed(p + 7, 2));
    ts.minute = static_cast<uint16_t>(readFixed(p + 9, 2));
    ts.second = static_cast<uint16_t>(readFixed(p + 11, 2));
    ts.millisecond = static_cast<uint32_t>(readFixed(p + 13, 4));
    return ts;
}

}  // namespace

void decodeItem(const uint8_t* p, FieldValue& out) {
    const uint8_t t = *p;
    switch (t) {
        case tag::kFalse:
            out = false;
            return;
        case tag::kTrue:
            out = true;
            return;
        case tag::kInt8:
            out = int64_t{static_cast<int8_t>(p[1])};
            return;
        case tag::kInt16:
            out = int64_t{static_cast<int16_t>(readFixed(p + 1, 2))};
            return;
        case tag::kInt32:
            out = int64_t{static_cast<int32_t>(readFixed(p + 1, 4))};
            return;
        case tag::kUInt32:
            out = static_cast<int64_t>(readFixed(p + 1, 4));
            return;
        case tag::kInt64:
            out = static_cast<int64_t>(readFixed(p + 1, 8));
            return;
        case tag::kDouble:
            out = std::bit_cast<double>(readFixed(p + 1, 8));
            return;
        case tag::kText: {
            const std::string_view bytes = itemBytes(p);
            slotAs<std::string>(out).assign(bytes.data(), bytes.size());
            return;
        }
        case tag::kPaddedText: {
            const std::string_view bytes = itemBytes(p);
            const uint8_t* q = reinterpret_cast<const uint8_t*>(bytes.data() + bytes.size());
            const auto zeros = static_cast<size_t>(readVarint(q));
            std::string& text = slotAs<std::string>(out);
            text.assign(bytes.data(), bytes.size());
            text.append(zeros, '\0');
            return;
        }
        case tag::kDecimal:
            decodeDecimal(p, slotAs<std::string>(out));
            return;
        case tag::kWide:
        case tag::kNarrowWide: {
            const uint8_t* q = p + 1;
            const auto n = static_cast<size_t>(readVarint(q));
            std::u16string& text = slotAs<std::u16string>(out);
            text.resize(n);
            for (size_t i = 0; i < n; ++i) {
                text[i] = t == tag::kWide ? static_cast<char16_t>(q[2 * i] | (q[2 * i + 1] << 8))
                                          : static_cast<char16_t>(q[i]);
            }
            return;
        }
        case tag::kBlob: {
            const std::string_view bytes = itemBytes(p);
            out = makeBlob(std::string(bytes));
            return;
        }
        case tag::kTimeStamp:
            out = decodeTimeStamp(p);
            return;
        case tag::kIntArray: {
            const uint8_t* q = p + 1;
            const auto n = static_cast<size_t>(readVarint(q));
            IntArray& values = slotAs<IntArray>(out);
            values.resize(n);
            for (size_t i = 0; i < n; ++i) values[i] = unzigzag(readVarint(q));
            return;
        }
        default:
            out = FieldValue{};
            return;
    }
}

}  // namespace tarvolen::rowencoding
