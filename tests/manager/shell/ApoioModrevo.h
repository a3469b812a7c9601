// What Modrevo's window tests share: a module simulator in the test's own network namespace,
// message boxes that answer themselves, a settings folder of its own, and the driving of
// modal windows from inside their loops.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "ModuleSim.h"
#include "common/qt/DbGrid.h"
#include "common/qt/OperatorDialogs.h"
#include "common/qt/Text1252Qt.h"
#include "manager/modules/Configuracao.h"
#include "manager/shell/uConfigura.h"
#include "manager/shell/uPrincipal.h"
#include "manager/shell/uTempo.h"

namespace apoio {

// Why this process has no private network namespace; empty when it has one (set in main).
inline std::string semRedePrivada;

// The response time every test stores, in milliseconds: short enough for a quick suite, long
// enough for the simulator's replies on a busy machine.
constexpr int kTempo = 150;

inline const std::string kConsulta = "Discovery: Who is out there?";

// Records every box; questions are answered as the test says.
struct DialogosFalsos : common::qt::IOperatorDialogs {
    struct Chamada {
        std::string tipo;
        std::string texto;
    };
    std::vector<Chamada> chamadas;
    bool respostaPergunta = true;  // Yes

    void Notice(const std::string& t) override { chamadas.push_back({"Notice", t}); }
    bool Question(const std::string& t) override {
        chamadas.push_back({"Question", t});
        return respostaPergunta;
    }
    bool Confirm(const std::string& t) override {
        chamadas.push_back({"Confirm", t});
        return true;
    }
    void Plain(const std::string& t) override { chamadas.push_back({"Plain", t}); }
    void Failure(const std::string& t) override { chamadas.push_back({"Failure", t}); }

    std::vector<std::string> Textos(const std::string& tipo) const {
        std::vector<std::string> r;
        for (const auto& c : chamadas)
            if (c.tipo == tipo) r.push_back(c.texto);
        return r;
    }
};

struct AbridorFalso : modrevo::IAbridor {
    std::vector<std::string> abertos;
    void AbreEAguarda(const std::string& documento) override { abertos.push_back(documento); }
};

// One command as the simulator received it.
struct Comando {
    std::string para;
    std::string texto;
    bool operator==(const Comando&) const = default;
};
inline std::ostream& operator<<(std::ostream& o, const Comando& c) {
    return o << "\"" << c.texto << "\" to " << c.para;
}
inline void PrintTo(const Comando& c, std::ostream* o) { *o << c; }

inline std::string Le(const std::filesystem::path& arquivo) {
    std::ifstream in(arquivo, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void Grava(const std::filesystem::path& arquivo, const std::string& bytes) {
    std::ofstream(arquivo, std::ios::binary) << bytes;
}

inline std::string Preferencia(const std::string& tempo) {
    return "[TfrmTempo]\r\nFormVersion=0\r\nEditTempo_Text=" + tempo + "\r\n";
}

// Lets the event loop run until the condition holds or the time is up.
template <class F>
bool Ate(F condicao, int limiteMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!condicao()) {
        if (t.elapsed() > limiteMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
    return true;
}

// Lets the event loop run for a while.
inline void Espera(int ms) {
    Ate([] { return false; }, ms);
}

// Every test gets a settings folder holding a short response time, the fake boxes, and a
// simulator of its own on the fixed module ports of its private namespace.
class ModrevoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!semRedePrivada.empty())
            GTEST_SKIP() << "no private network namespace for broadcasts: " << semRedePrivada;
        ASSERT_TRUE(pasta_.isValid());
        pasta = pasta_.path().toStdString();
        configuracao = pasta / "config";
        std::filesystem::create_directories(configuracao);
        setenv("XDG_CONFIG_HOME", configuracao.c_str(), 1);
        Grava(Preferencias(), Preferencia(std::to_string(kTempo)));
        common::qt::SetDialogs(&dialogos);
        common::qt::InstallFailureBox();
        // A modal window that a failing test leaves open must not hold the whole run.
        vigia_ = std::make_unique<QTimer>();
        vigia_->setSingleShot(true);
        QObject::connect(vigia_.get(), &QTimer::timeout, [] {
            ADD_FAILURE() << "a modal window was still open after 20 s";
            while (QWidget* w = QApplication::activeModalWidget()) w->close();
        });
        vigia_->start(20000);
    }

    void TearDown() override {
        acoes_.clear();
        vigia_.reset();
        janela.reset();
        if (sim) sim->Stop();
        common::qt::SetDialogs(nullptr);
        if (!falhasEsperadas) {
            EXPECT_TRUE(dialogos.Textos("Failure").empty());
        }
    }

    std::filesystem::path Preferencias() const { return configuracao / "Modrevo.INI"; }

    void IniciaSim(modsim::Modules modulos) {
        sim = std::make_unique<modsim::ModuleSim>(std::move(modulos));
        sim->Start();
    }

    // The window, shown and active, once its first refresh has ended.
    modrevo::TFormPrincipal& Abre(const std::string& ipComputador) {
        const int antes = Consultas();
        // A new window is a new program: the last one's end let no box wait any more.
        common::qt::SetNobodyAnswers(false);
        janela = std::make_unique<modrevo::TFormPrincipal>(ipComputador);
        janela->DefineAbridor(&abridor);
        janela->show();
        janela->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(janela.get()));
        EXPECT_TRUE(AguardaAtualizacoes(antes + 1));
        return *janela;
    }

    // Waits until `n` refreshes in all have sent their second-family query and none runs.
    bool AguardaAtualizacoes(int n) {
        return Ate([&] {
            return janela->Ativada() && !janela->Atualizacao().EmAtualizacao() && Consultas() >= n;
        });
    }

    int Consultas() const {
        int n = 0;
        for (const auto& r : sim->Log()) n += r.text == kConsulta;
        return n;
    }
    int Descobertas() const {
        int n = 0;
        for (const auto& r : sim->Log()) n += r.text == "X" && r.to == "255.255.255.255";
        return n;
    }

    // What reached the first-family port, in order.
    std::vector<Comando> Comandos() const {
        std::vector<Comando> r;
        for (const auto& d : sim->Log())
            if (d.toPort == 65535) r.push_back({d.to, d.text});
        return r;
    }
    // The commands of a configuration: everything before the closing refresh's "X".
    std::vector<Comando> ComandosDaConfiguracao() const {
        std::vector<Comando> r;
        for (const auto& c : Comandos()) {
            if (c.texto == "X") break;
            r.push_back(c);
        }
        return r;
    }

    template <class W>
    W* Controle(const char* nome) const {
        W* w = janela->findChild<W*>(QString::fromLatin1(nome));
        EXPECT_NE(w, nullptr) << nome;
        return w;
    }
    template <class W>
    W* NoDialogo(const char* nome) const {
        W* w = janela->FormConfigura()->findChild<W*>(QString::fromLatin1(nome));
        EXPECT_NE(w, nullptr) << nome;
        return w;
    }
    common::qt::DbGrid* Grade(int n) const {
        return Controle<common::qt::DbGrid>(n == 1 ? "DBGridEh1" : "DBGridEh2");
    }
    QTimer* Timer1() const { return Controle<QTimer>("Timer1"); }

    static std::string Celula(common::qt::DbGrid* g, int linha, int coluna) {
        return common::qt::FromQString(g->model()->index(linha, coluna).data().toString());
    }
    // A column of the grid, top to bottom.
    static std::vector<std::string> Coluna(common::qt::DbGrid* g, int coluna) {
        std::vector<std::string> r;
        for (int i = 0; i < g->model()->rowCount(); ++i) r.push_back(Celula(g, i, coluna));
        return r;
    }
    // The grid row showing a module address (column 1 of the first list, 0 of the second).
    int Linha(int grade, const std::string& ip) const {
        const auto ips = Coluna(Grade(grade), grade == 1 ? 1 : 0);
        for (std::size_t i = 0; i < ips.size(); ++i)
            if (ips[i] == ip) return static_cast<int>(i);
        ADD_FAILURE() << ip << " is not listed";
        return 0;
    }
    static QPoint Centro(common::qt::DbGrid* g, int linha) {
        const QModelIndex i = g->model()->index(linha, 0);
        g->scrollTo(i);
        return g->visualRect(i).center();
    }
    void Clica(int grade, const std::string& ip) {
        auto* g = Grade(grade);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, Centro(g, Linha(grade, ip)));
    }
    // The press and release that come first, then the double click, as from a real mouse: a
    // list acts on a double click only over the row that the press went to.
    void DuploClique(int grade, const std::string& ip) {
        auto* g = Grade(grade);
        const QPoint ponto = Centro(g, Linha(grade, ip));
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, ponto);
        QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, ponto);
    }

    // Runs `acao` once, as soon as `aberta` holds: from inside the loop of the modal window
    // that the next step opens.
    void Quando(std::function<bool()> aberta, std::function<void()> acao) {
        auto t = std::make_unique<QTimer>();
        t->setInterval(5);
        QTimer* p = t.get();
        QObject::connect(p, &QTimer::timeout, [p, aberta, acao] {
            if (!aberta()) return;
            p->stop();
            acao();
        });
        p->start();
        acoes_.push_back(std::move(t));
    }
    void QuandoConfigura(std::function<void(modrevo::TFormConfigura&)> acao) {
        // Waits for the dialog to be the active window too: until then focus given inside it
        // is only remembered, not real.
        Quando([this] { return janela->FormConfigura()->isVisible() &&
                               janela->FormConfigura()->isActiveWindow(); },
               [this, acao] { acao(*janela->FormConfigura()); });
    }
    void QuandoTempo(std::function<void(modrevo::TfrmTempo&)> acao) {
        Quando([this] { return janela->FrmTempo() && janela->FrmTempo()->isVisible() &&
                               janela->FrmTempo()->isActiveWindow(); },
               [this, acao] { acao(*janela->FrmTempo()); });
    }
    // Stops the actions still waiting for their window.
    void Desarma() { acoes_.clear(); }

    QTemporaryDir pasta_;
    std::filesystem::path pasta;
    std::filesystem::path configuracao;
    DialogosFalsos dialogos;
    AbridorFalso abridor;
    std::unique_ptr<modsim::ModuleSim> sim;
    std::unique_ptr<modrevo::TFormPrincipal> janela;
    bool falhasEsperadas = false;

  private:
    std::vector<std::unique_ptr<QTimer>> acoes_;
    std::unique_ptr<QTimer> vigia_;
};

// A first-family module with its own address and MAC.
inline modsim::TibboModule Tibbo(const std::string& ip, const std::string& mac,
                                 const std::string& flags, const std::string& rest) {
    modsim::TibboModule m;
    m.ip = ip;
    m.mac = mac;
    m.flags = flags;
    m.rest = rest;
    return m;
}

inline modsim::BrivantModule Brivant(const std::string& ip, const std::string& nome,
                                     const std::string& mac) {
    modsim::BrivantModule m;
    m.ip = ip;
    m.name = nome;
    m.mac = mac;
    return m;
}

}  // namespace apoio
