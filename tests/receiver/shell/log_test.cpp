// The traffic-log window: its two areas and their bound, closing that only hides, no taskbar
// button, and "Stay on Top".
#include <QAction>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>
#include <QWindow>

#include "ApoioJanelas.h"
#include "receiver/shell/uLog.h"

using namespace apoio;
using lumora::TformLog;

namespace {

QPlainTextEdit* Area(TformLog& log, const char* nome) {
    auto* area = log.findChild<QPlainTextEdit*>(QString::fromLatin1(nome));
    EXPECT_NE(area, nullptr) << nome;
    return area;
}

}  // namespace

TEST(TformLog, LinesGoToTheirAreaTheSentOnesWrapping) {
    App();
    TformLog log;
    EXPECT_FALSE(log.isVisible());  // made hidden; shown from the menu
    log.Recebidos("<[15/03/24 10:00:00 000] 01;21;");
    log.Enviados("Terminal Vexa Conectado! Endere\xE7o IP:127.0.0.5");
    log.Enviados("[127.0.0.5]01;02;S;05;Saida;Liberada;\r");
    auto* recebidos = Area(log, "memoRecebidos");
    auto* enviados = Area(log, "MemoEnviados");
    ASSERT_TRUE(recebidos && enviados);
    // Lines wait while nobody sees the window, and are there once it is shown.
    EXPECT_EQ(recebidos->document()->characterCount(), 1);
    log.show();
    EXPECT_EQ(recebidos->toPlainText(), "<[15/03/24 10:00:00 000] 01;21;");
    // Windows-1252 shown as such; the CR that ends a sent text ends its line.
    EXPECT_EQ(enviados->toPlainText(),
              QString::fromUtf8("Terminal Vexa Conectado! Endereço IP:127.0.0.5\n"
                                "[127.0.0.5]01;02;S;05;Saida;Liberada;"));

    // A line wider than the window runs on in "Recebidos" and wraps in "Enviados".
    const std::string longa(400, 'x');
    log.Recebidos(longa);
    log.Enviados(longa);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&log));
    EXPECT_EQ(recebidos->document()->lastBlock().layout()->lineCount(), 1);
    EXPECT_GT(enviados->document()->lastBlock().layout()->lineCount(), 1);
}

TEST(TformLog, EachAreaKeepsTheNewestLinesUpToItsBound) {
    App();
    // Shown all along, and hidden until the lines are in.
    for (const bool mostrada : {true, false}) {
        SCOPED_TRACE(mostrada ? "shown" : "hidden");
        TformLog log;
        if (mostrada) log.show();
        const int demais = 25;
        for (int i = 1; i <= TformLog::kMaxLinhas + demais; ++i) {
            log.Recebidos("<[15/03/24 10:00:00 000] 01;09;" + std::to_string(i));
            log.Enviados("[127.0.0.5]01;20;03;" + std::to_string(i) + "\r");
        }
        log.show();
        for (const char* nome : {"memoRecebidos", "MemoEnviados"}) {
            auto* area = Area(log, nome);
            ASSERT_NE(area, nullptr);
            const QTextDocument* doc = area->document();
            EXPECT_EQ(doc->blockCount(), TformLog::kMaxLinhas) << nome;
            // The oldest went, in order; the newest is the last line.
            const QString primeira = doc->firstBlock().text();
            const QString ultima = doc->lastBlock().text();
            EXPECT_TRUE(primeira.endsWith(";" + QString::number(demais + 1))) << nome;
            EXPECT_TRUE(ultima.endsWith(";" + QString::number(TformLog::kMaxLinhas + demais)))
                << nome;
            // Nothing kept behind the text for undoing either.
            EXPECT_FALSE(doc->isUndoAvailable()) << nome;
        }
    }
}

TEST(TformLog, LongLinesAreCutAndEachAreaKeepsItsTextBound) {
    App();
    const std::string aviso = "... (mais 58000 bytes)";
    for (const bool mostrada : {true, false}) {
        SCOPED_TRACE(mostrada ? "shown" : "hidden");
        TformLog log;
        if (mostrada) log.show();
        // At the line bound a line is whole; its CR does not count.
        log.Enviados(std::string(TformLog::kMaxLinha, 'c') + "\r");
        // A peer that sends the longest messages the server takes, for long.
        const int linhas = 2200;
        std::string longa(60000, 'x');
        for (int i = 1; i <= linhas; ++i) {
            const std::string n = std::to_string(i) + ";";
            longa.replace(0, n.size(), n);
            log.Recebidos(longa);
            log.Enviados(longa + "\r");
        }
        log.show();
        for (const char* nome : {"memoRecebidos", "MemoEnviados"}) {
            const QTextDocument* doc = Area(log, nome)->document();
            EXPECT_LE(static_cast<size_t>(doc->characterCount()), TformLog::kMaxBytesArea) << nome;
            // Bounded by the text, not by the lines; the newest lines stay, cut.
            EXPECT_GT(doc->blockCount(), 1500) << nome;
            EXPECT_LT(doc->blockCount(), linhas) << nome;
            const QString ultima = doc->lastBlock().text();
            EXPECT_TRUE(ultima.startsWith(QString::number(linhas) + ";xxx")) << nome;
            EXPECT_TRUE(ultima.endsWith(QString::fromLatin1(aviso.c_str()))) << nome;
            EXPECT_EQ(static_cast<size_t>(ultima.size()), TformLog::kMaxLinha + aviso.size());
            const int primeira = doc->firstBlock().text().section(';', 0, 0).toInt();
            EXPECT_EQ(primeira, linhas - doc->blockCount() + 1) << nome;
        }
        // Appended to the bound and past it: still within it.
        log.Recebidos(longa);
        EXPECT_LE(static_cast<size_t>(Area(log, "memoRecebidos")->document()->characterCount()),
                  TformLog::kMaxBytesArea);
    }
    TformLog log;
    log.Enviados(std::string(TformLog::kMaxLinha, 'c') + "\r");
    log.show();
    EXPECT_EQ(Area(log, "MemoEnviados")->toPlainText().toStdString(),
              std::string(TformLog::kMaxLinha, 'c'));
}

TEST(TformLog, ClosingFromTheTitleBarIsRefusedAndOnlyHides) {
    App();
    TformLog log;
    log.Recebidos("<[15/03/24 10:00:00 000] 01;21;");
    log.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&log));
    // A close that Qt counted as done would take the window down with its native window (and
    // the place the operator gave it), and for a program window count towards quitting.
    QWindow* nativa = log.windowHandle();
    EXPECT_FALSE(nativa->close());
    EXPECT_FALSE(log.isVisible());
    EXPECT_EQ(log.windowHandle(), nativa);
    EXPECT_NE(nativa->handle(), nullptr);
    log.show();
    EXPECT_EQ(Area(log, "memoRecebidos")->toPlainText(), "<[15/03/24 10:00:00 000] 01;21;");
}

TEST(TformLog, HasNoTaskbarButtonWhateverItsStacking) {
    App();
    TformLog log;
    log.show();
    EXPECT_TRUE(log.windowFlags().testFlag(Qt::Tool));
    log.StayOnTopClick();
    EXPECT_TRUE(log.windowFlags().testFlag(Qt::Tool));
    log.StayOnTopClick();
    EXPECT_TRUE(log.windowFlags().testFlag(Qt::Tool));
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
