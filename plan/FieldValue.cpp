#include "plan/FieldValue.h"

#include <algorithm>
#include <cmath>

#include "base/Cp1252.h"

namespace tarvolen {
namespace {

int compareText(const std::string& a, const std::string& b, bool caseInsensitive) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(caseInsensitive ? cp1252::toUpper(a[i]) : a[i]);
        auto cb = static_cast<unsigned char>(caseInsensitive ? cp1252::toUpper(b[i]) : b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

int compareValues(const FieldValue& a, const FieldValue& b, bool caseInsensitive) {
    if (isNull(a) || isNull(b)) return isNull(a) == isNull(b) ? 0 : (isNull(a) ? -1 : 1);
    if (a.index() != b.index()) return a.index() < b.index() ? -1 : 1;
    if (const auto* s = std::get_if<std::string>(&a)) {
        return compareText(*s, std::get<std::string>(b), caseInsensitive);
    }
    if (const auto* blob = std::get_if<BlobData>(&a)) {
        return compareText(**blob, *std::get<BlobData>(b), caseInsensitive);
    }
    if (const auto* x = std::get_if<double>(&a)) {
        // NaN after every number and equal to itself, so sorting sees a strict weak order.
        const double y = std::get<double>(b);
        const bool nanX = std::isnan(*x);
        const bool nanY = std::isnan(y);
        if (nanX || nanY) return nanX == nanY ? 0 : (nanX ? 1 : -1);
        return *x < y ? -1 : (y < *x ? 1 : 0);
    }
    return a < b ? -1 : (b < a ? 1 : 0);
}

bool sameValue(const FieldValue& a, const FieldValue& b) {
    if (a.index() != b.index()) return false;
    if (const auto* blobA = std::get_if<BlobData>(&a)) {
        const auto& blobB = std::get<BlobData>(b);
        return blobA->get() == blobB.get() || **blobA == *blobB;
    }
    if (const auto* x = std::get_if<double>(&a)) {
        // A NaN read back from a file is still the value that was stored.
        const double y = std::get<double>(b);
        return *x == y || (std::isnan(*x) && std::isnan(y));
    }
    return a == b;
}

}  // namespace tarvolen
