// The traffic-log window: its two areas, closing that only hides, and "Stay on Top".
#include <QAction>
#include <QPlainTextEdit>

#include "ApoioJanelas.h"
#include "receiver/shell/uLog.h"

using namespace apoio;
using lumora::TformLog;

TEST(TformLog, LinesGoToTheirAreaAndOutliveClosingTheWindow) {
    App();
    TformLog log;
    EXPECT_EQ(log.windowTitle(), "Dados Recebidos/Enviados");
    EXPECT_FALSE(log.isVisible());  // made hidden; shown from the menu
    log.Recebidos("<[15/03/24 10:00:00 000] 01;21;");
    log.Enviados("Terminal Vexa Conectado! Endere\xE7o IP:127.0.0.5");
    log.Enviados("[127.0.0.5]01;02;S;05;Saida;Liberada;\r");
    log.show();
    EXPECT_TRUE(log.close() || !log.isVisible());
    EXPECT_FALSE(log.isVisible());
    log.show();
    auto* recebidos = log.findChild<QPlainTextEdit*>(QStringLiteral("memoRecebidos"));
    auto* enviados = log.findChild<QPlainTextEdit*>(QStringLiteral("MemoEnviados"));
    ASSERT_TRUE(recebidos && enviados);
    EXPECT_EQ(recebidos->toPlainText(), "<[15/03/24 10:00:00 000] 01;21;");
    // Windows-1252 shown as such; the CR that ends a sent text ends its line.
    EXPECT_EQ(enviados->toPlainText(),
              QString::fromUtf8("Terminal Vexa Conectado! Endereço IP:127.0.0.5\n"
                                "[127.0.0.5]01;02;S;05;Saida;Liberada;"));
    EXPECT_EQ(recebidos->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(enviados->lineWrapMode(), QPlainTextEdit::WidgetWidth);
}

TEST(TformLog, StayOnTopFlipsItsCheckAndTheWindowsStacking) {
    App();
    TformLog log;
    log.show();
    QAction* item = log.StayOnTop();
    EXPECT_EQ(item->text(), "Stay on Top");
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(log.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    log.StayOnTopClick();
    EXPECT_TRUE(item->isChecked());
    EXPECT_TRUE(log.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(log.isVisible());  // changing the stacking does not take the window away
    log.StayOnTopClick();
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(log.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(log.isVisible());
    // A hidden window stays hidden.
    log.hide();
    log.StayOnTopClick();
    EXPECT_FALSE(log.isVisible());
    EXPECT_TRUE(log.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}
