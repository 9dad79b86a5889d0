#include "plan/DataPacket.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tarvolen {
std::string canonicalDecimal(std::string_view text) {
    std::string out;
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        if (text[i] == '-') out += '-';
        ++i;
    }
    while (i + 1 < text.size() && text[i] == '0' && text[i + 1] != '.') ++i;
    if (i < text.size() && text[i] == '.') out += '0';
    out.append(text.substr(i));
    if (!out.empty() && out.back() == '.') out.pop_back();
    // Zero has no sign, as the packed record stores it.
    if (out.size() > 1 && out[0] == '-' && out.find_first_not_of("0.", 1) == std::string::npos) {
        out.erase(0, 1);
    }
    return out;
}

namespace {

// Orders two canonical decimal texts by value.
int compareDecimals(std::string_view a, std::string_view b) {
    const bool negA = !a.empty() && a[0] == '-';
    const bool negB = !b.empty() && b[0] == '-';
    if (negA) a.remove_prefix(1);
    if (negB) b.remove_prefix(1);
    auto isZero = [](std::string_view t) {
        return t.find_first_not_of("0.") == std::string_view::npos;
    };
    const int signA = isZero(a) ? 0 : (negA ? -1 : 1);
    const int signB = isZero(b) ? 0 : (negB ? -1 : 1);
    if (signA != signB) return signA < signB ? -1 : 1;
    if (signA == 0) return 0;
    const std::string_view intA = a.substr(0, a.find('.'));
    const std::string_view intB = b.substr(0, b.find('.'));
    int magnitude = 0;
    if (intA.size() != intB.size()) {
        magnitude = intA.size() < intB.size() ? -1 : 1;
    } else if (const int c = intA.compare(intB); c != 0) {
        magnitude = c < 0 ? -1 : 1;
    } else {
        std::string_view fracA =
            intA.size() < a.size() ? a.substr(intA.size() + 1) : std::string_view();
        std::string_view fracB =
            intB.size() < b.size() ? b.substr(intB.size() + 1) : std::string_view();
        for (size_t k = 0; k < std::max(fracA.size(), fracB.size()) && magnitude == 0; ++k) {
            const char x = k < fracA.size() ? fracA[k] : '0';
            const char y = k < fracB.size() ? fracB[k] : '0';
            if (x != y) magnitude = x < y ? -1 : 1;
        }
    }
    return signA < 0 ? -magnitude : magnitude;
}

}  // namespace

int compareFieldValues(FieldType type, const FieldValue& a, const FieldValue& b,
                       bool caseInsensitive) {
    if (type == FieldType::Bcd || type == FieldType::FmtBcd) {
        const auto* x = std::get_if<std::string>(&a);
        const auto* y = std::get_if<std::string>(&b);
        if (x != nullptr && y != nullptr)
            return compareDecimals(canonicalDecimal(*x), canonicalDecimal(*y));
    }
    return compareValues(a, b, caseInsensitive);
}

const Attribute* FieldDef::findAttribute(std::string_view attrName) const {
    for (const auto& a : attributes) {
        if (a.name == attrName) return &a;
    }
    return nullptr;
}

int FieldDef::width() const {
    const Attribute* a = findAttribute("WIDTH");
    if (a == nullptr) return 0;
    if (const auto* v = std::get_if<int64_t>(&a->value)) {
        return *v < INT32_MIN || *v > INT32_MAX ? -1 : static_cast<int>(*v);
    }
    return 0;
}

std::string FieldDef::subtype() const {
    const Attribute* a = findAttribute("SUBTYPE");
    if (a == nullptr) return {};
    if (const auto* v = std::get_if<std::string>(&a->value)) return *v;
    return {};
}

const Attribute* DataPacket::findAttribute(std::string_view attrName) const {
    for (const auto& a : attributes) {
        if (a.name == attrName) return &a;
    }
    return nullptr;
}

int DataPacket::fieldIndex(std::string_view fieldName) const {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].name == fieldName) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace tarvolen
