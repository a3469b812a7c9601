// Windows-1252 conversions for widgets, built on the code page table of the core.
#include "common/qt/Text1252Qt.h"

#include "common/Text1252.h"

namespace common::qt {

QString ToQString(const std::string& bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (unsigned char b : bytes) out.append(QChar(static_cast<char16_t>(CodePointOf1252(b))));
    return out;
}

std::string FromQString(const QString& text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (char32_t cp : text.toStdU32String()) {
        const auto byte = ByteFor(cp);
        out += byte ? static_cast<char>(*byte) : '?';
    }
    return out;
}

}  // namespace common::qt
