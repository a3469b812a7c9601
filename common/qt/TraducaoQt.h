// Qt's own texts (standard buttons, file choosers) in the programs' language.
#pragma once

namespace common::qt {

// Every text of these programs is Brazilian Portuguese, whatever the desktop's locale: Qt's own
// texts follow, from the translations Debian installs (qt6-translations-l10n). Call once, after
// the application object exists. False when they are not installed: Qt's English stays.
bool InstalaTraducaoQt();

}  // namespace common::qt
