// Modrevo's window tests' main: a private network namespace before anything else, then one
// application object for the whole run.
#include <gtest/gtest.h>

#include <QApplication>

#include "ApoioModrevo.h"
#include "tests/support/RedePrivada.h"

int main(int argc, char* argv[]) {
    // Before Qt or gtest start a thread: the namespace belongs to the thread that enters it,
    // and the simulator's threads and the program started by the end-to-end test inherit it.
    apoio::semRedePrivada = lumora::teste::EntraEmRedePrivada();
    // Nothing here may hang on the machine's name service, nor pass because it answers.
    if (apoio::semRedePrivada.empty()) apoio::semRedePrivada = lumora::teste::SemServidorDeNomes();
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Modrevo"));
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
