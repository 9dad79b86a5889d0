#include "app/AnsiText.h"

#include "base/Cp1252.h"

namespace tarvolen {

QString fromAnsi(std::string_view text) {
    const std::string utf8 = cp1252::toUtf8(text);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string toAnsi(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return cp1252::fromUtf8(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

QString fromFileText(std::string_view text) {
    if (cp1252::isValidUtf8(text))
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return fromAnsi(text);
}

}  // namespace tarvolen
