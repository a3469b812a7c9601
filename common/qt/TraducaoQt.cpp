#include "common/qt/TraducaoQt.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace common::qt {

bool InstalaTraducaoQt() {
    // Lives as long as the application: a translator removed or destroyed takes its texts along.
    static QTranslator* traducao = nullptr;
    if (traducao) return true;
    auto* nova = new QTranslator(QCoreApplication::instance());
    if (!nova->load(QStringLiteral("qtbase_pt_BR"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(nova)) {
        delete nova;
        return false;
    }
    traducao = nova;
    return true;
}

}  // namespace common::qt
