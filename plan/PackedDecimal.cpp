#include "plan/PackedDecimal.h"

#include <algorithm>

namespace tarvolen {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

int bcdRecordSize(int precision) {
    const int p = precision > 0 ? std::min(precision, 64) : 32;
    return 2 + (p + 1) / 2;
}

bool packDecimal(std::string_view text, uint32_t recordSize, std::string& record) {
    size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    std::string digits;
    unsigned decimals = 0;
    bool point = false;
    bool anyDigit = false;
    bool nonZero = false;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (isDigit(c)) {
            anyDigit = true;
            nonZero = nonZero || c != '0';
            if (!point && digits.empty() && c == '0') continue;
            digits.push_back(c);
            if (point) ++decimals;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (!anyDigit || decimals > 0x3F) return false;
    if (digits.empty()) digits.push_back('0');
    auto fits = [&] { return digits.size() <= 0xFF && 2 + (digits.size() + 1) / 2 <= recordSize; };
    // Normally every fraction digit is stored; when that does not fit, the zeros leading the
    // fraction are left out and the reader restores them from the decimals count.
    if (!fits()) digits.erase(0, digits.find_first_not_of('0'));
    if (!fits()) return false;
    record.assign(recordSize, '\0');
    record[0] = static_cast<char>(digits.size());
    record[1] = static_cast<char>(decimals | (negative && nonZero ? 0x80U : 0U));
    for (size_t i = 0; i < digits.size(); ++i) {
        const auto nibble = static_cast<unsigned>(digits[i] - '0');
        auto& byte = record[2 + i / 2];
        const unsigned shifted = i % 2 == 0 ? nibble << 4 : nibble;
        byte = static_cast<char>(static_cast<unsigned char>(byte) | shifted);
    }
    return true;
}

bool unpackDecimal(std::string_view record, std::string& text) {
    if (record.size() < 2) return false;
    const auto byteAt = [&](size_t i) { return static_cast<unsigned char>(record[i]); };
    const unsigned precision = byteAt(0);
    const bool negative = (byteAt(1) & 0x80) != 0;
    const unsigned decimals = byteAt(1) & 0x3F;
    if (2 + (precision + 1) / 2 > record.size()) return false;

    // A record may hold fewer digits than decimals ("0.005" as precision 1): pad the fraction.
    const unsigned padding = decimals > precision ? decimals - precision : 0;
    std::string digits(padding, '0');
    for (unsigned i = 0; i < precision; ++i) {
        const unsigned char byte = byteAt(2 + i / 2);
        const unsigned nibble = (i % 2 == 0) ? byte >> 4 : byte & 0x0F;
        if (nibble > 9) return false;
        digits.push_back(static_cast<char>('0' + nibble));
    }
    const size_t intDigits = digits.size() - decimals;
    size_t firstInt = 0;
    while (firstInt < intDigits && digits[firstInt] == '0') ++firstInt;

    text.clear();
    text.reserve(digits.size() + 3);
    if (negative && digits.find_first_not_of('0') != std::string::npos) text.push_back('-');
    if (firstInt == intDigits) {
        text.push_back('0');
    } else {
        text.append(digits, firstInt, intDigits - firstInt);
    }
    if (decimals > 0) {
        text.push_back('.');
        text.append(digits, intDigits, decimals);
    }
    return true;
}

}  // namespace tarvolen
