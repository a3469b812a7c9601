// The failure box on screen, one at a time, and the message fields that no ";" gets into.
#include <gtest/gtest.h>

#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>

#include "common/Exception.h"
#include "common/Unhandled.h"
#include "common/qt/OperatorDialogs.h"
#include "common/qt/Text1252Qt.h"
#include "receiver/shell/FiltrosCampos.h"

namespace {

void Falha(const char* texto) {
    common::ReportUnhandled(std::make_exception_ptr(common::Exception(texto)));
}

std::vector<QMessageBox*> CaixasAbertas() {
    std::vector<QMessageBox*> caixas;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* caixa = qobject_cast<QMessageBox*>(w); caixa && caixa->isVisible()) {
            caixas.push_back(caixa);
        }
    }
    return caixas;
}

}  // namespace

TEST(CaixaDeFalhas, OneAtATimeAndItSaysHowManyMoreCameMeanwhile) {
    common::qt::SetDialogs(nullptr);  // the real boxes
    common::qt::InstallFailureBox();
    std::vector<std::string> registradas;
    common::SetUnhandledOverflowSink([&](const std::string& t) { registradas.push_back(t); });

    // Watches the screen from inside the first box's loop: two more failures come, each from
    // an event of its own; a box that opens over the first is counted and closed; then the
    // first is read and closed as the operator would.
    QPointer<QMessageBox> primeira;
    size_t maisCaixas = 0;
    int chegaram = 0;
    QString lida;
    QTimer vigia;
    vigia.setInterval(10);
    QObject::connect(&vigia, &QTimer::timeout, [&] {
        const auto caixas = CaixasAbertas();
        maisCaixas = std::max(maisCaixas, caixas.size());
        for (QMessageBox* c : caixas) {
            if (!primeira) {
                primeira = c;
                QTimer::singleShot(0, [&] {
                    Falha("segunda");
                    ++chegaram;
                });
                QTimer::singleShot(0, [&] {
                    Falha("terceira");
                    ++chegaram;
                });
            } else if (c != primeira) {
                c->done(QMessageBox::Ok);
            } else if (chegaram == 2) {
                lida = c->text();
                c->done(QMessageBox::Ok);
            }
        }
    });
    vigia.start();
    QTimer limite;  // a box left open would hold the test for ever
    QObject::connect(&limite, &QTimer::timeout, [] {
        for (QMessageBox* c : CaixasAbertas()) c->done(QMessageBox::Ok);
    });
    limite.start(5000);
    Falha("primeira");
    vigia.stop();

    EXPECT_EQ(maisCaixas, 1u);
    EXPECT_EQ(lida, "primeira.\n\nMais 2 falhas ocorreram enquanto esta mensagem estava aberta.");
    EXPECT_EQ(registradas, (std::vector<std::string>{"segunda.", "terceira."}));
    EXPECT_EQ(common::qt::FailuresMeanwhileText(1),
              "Mais 1 falha ocorreu enquanto esta mensagem estava aberta.");

    common::SetUnhandledFailureHandler(nullptr);
    common::SetUnhandledOverflowSink(nullptr);
    common::SetUnhandledOverflowCounter(nullptr);
}

TEST(CaixaDeFalhas, WhereNobodyAnswersEveryBoxIsOneLogLineAndNoneWaits) {
    common::qt::SetDialogs(nullptr);
    common::qt::InstallFailureBox();
    std::vector<std::string> linhas;
    common::qt::SetUnansweredSink([&](const std::string& l) { linhas.push_back(l); });
    common::qt::SetNobodyAnswers(true);
    QTimer limite;  // a box that waited would hold the test for ever
    QObject::connect(&limite, &QTimer::timeout, [] {
        for (QMessageBox* c : CaixasAbertas()) c->done(QMessageBox::Yes);
    });
    limite.start(2000);
    Falha("primeira");
    common::qt::Dialogs().Notice("N\xE3o foi poss\xEDvel.\nVerifique.");
    const bool sim = common::qt::Dialogs().Question("Deseja realmente Limpar?");
    limite.stop();
    common::qt::SetNobodyAnswers(false);
    common::qt::SetUnansweredSink(nullptr);
    common::SetUnhandledFailureHandler(nullptr);
    common::SetUnhandledOverflowCounter(nullptr);

    EXPECT_FALSE(sim);  // nobody's word changes nothing
    EXPECT_EQ(linhas, (std::vector<std::string>{"Erro: primeira.",
                                                "Aviso: N\xE3o foi poss\xEDvel. Verifique.",
                                                "Pergunta: Deseja realmente Limpar? N\xE3o"}));
}

TEST(CamposMensagem, NoSemicolonGetsInWhateverWayTheTextComes) {
    const struct {
        const char* como;
        std::function<void(QLineEdit&, const QString&)> poe;
    } maneiras[] = {
        {"typed", [](QLineEdit& c, const QString& t) { QTest::keyClicks(&c, t); }},
        {"pasted or dropped", [](QLineEdit& c, const QString& t) { c.insert(t); }},
        {"from an input method",
         [](QLineEdit& c, const QString& t) {
             QInputMethodEvent e;
             e.setCommitString(t);
             QApplication::sendEvent(&c, &e);
         }},
    };
    for (const auto& m : maneiras) {
        SCOPED_TRACE(m.como);
        QLineEdit campo;
        // A ";" that came from Config.ini is shown as it is; the reply sends it as a blank.
        campo.setText(QStringLiteral("Sai;da"));
        campo.setValidator(new lumora::LimiteDigitacao(&campo, 16));
        campo.show();
        campo.setFocus();
        campo.end(false);
        m.poe(campo, QStringLiteral(";"));
        m.poe(campo, QStringLiteral(";;"));
        EXPECT_EQ(campo.text(), QStringLiteral("Sai;da"));
        m.poe(campo, QStringLiteral("ok"));
        EXPECT_EQ(campo.text(), QStringLiteral("Sai;daok"));
    }
}
