// Windows-1252 bytes to QString and back: the one crossing between the programs' texts and widgets.
#pragma once

#include <QString>
#include <string>

namespace common::qt {

// Every byte through the full Windows-1252 table (0x80..0x9F are not Latin-1).
QString ToQString(const std::string& bytes);
// Characters the code page lacks become '?', one per character.
std::string FromQString(const QString& text);

}  // namespace common::qt
