// What the window tests share: the application object, message boxes that answer themselves,
// and a fresh program folder for every test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/qt/OperatorDialogs.h"
#include "receiver/shell/uPrincipal.h"

namespace apoio {

// The application object lives in main (main_shell.cpp), around all the tests, so that it
// goes before the statics of the libraries that it uses.
inline QApplication& App() { return *qApp; }

// Records every box and answers questions from a script (Yes when the script is empty).
struct DialogosFalsos : common::qt::IOperatorDialogs {
    struct Chamada {
        std::string tipo;
        std::string texto;
    };
    std::vector<Chamada> chamadas;
    std::deque<bool> respostas;

    bool Responde() {
        if (respostas.empty()) return true;
        const bool r = respostas.front();
        respostas.pop_front();
        return r;
    }
    void Notice(const std::string& t) override { chamadas.push_back({"Notice", t}); }
    bool Question(const std::string& t) override {
        chamadas.push_back({"Question", t});
        return Responde();
    }
    bool Confirm(const std::string& t) override {
        chamadas.push_back({"Confirm", t});
        return Responde();
    }
    void Plain(const std::string& t) override { chamadas.push_back({"Plain", t}); }
    void Failure(const std::string& t) override { chamadas.push_back({"Failure", t}); }
};

inline std::string Le(const std::filesystem::path& arquivo) {
    std::ifstream in(arquivo, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void Grava(const std::filesystem::path& arquivo, const std::string& bytes) {
    std::ofstream(arquivo, std::ios::binary) << bytes;
}

// Lets the event loop run until the condition holds or the time is up.
template <class F>
bool Ate(F condicao, int limiteMs = 3000) {
    QElapsedTimer t;
    t.start();
    while (!condicao()) {
        if (t.elapsed() > limiteMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
    return true;
}

// Every test gets its own program folder and its own runtime folder (so the single-instance
// lock is its own), and the fake message boxes.
class JanelaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        ASSERT_TRUE(pasta_.isValid());
        pasta = pasta_.path().toStdString();
        std::filesystem::create_directories(pasta / "run");
        setenv("XDG_RUNTIME_DIR", (pasta / "run").c_str(), 1);
        unsetenv("LUMORA_PORTA_TCP");
        common::qt::SetDialogs(&dialogos);
        common::qt::InstallFailureBox();
    }
    void TearDown() override {
        janela.reset();
        common::qt::SetDialogs(nullptr);
        common::qt::SetNobodyAnswers(false);
    }

    lumora::TFormPrincipal& Abre() {
        janela = std::make_unique<lumora::TFormPrincipal>(pasta);
        return *janela;
    }
    // Shows the window and makes it the active one, as the operator would find it.
    lumora::TFormPrincipal& AbreAtiva() {
        Abre();
        janela->show();
        janela->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(janela.get()));
        return *janela;
    }
    template <class W>
    W* Controle(const char* nome) {
        W* w = janela->findChild<W*>(QString::fromLatin1(nome));
        EXPECT_NE(w, nullptr) << nome;
        return w;
    }
    std::filesystem::path Config() const { return pasta / "Config.ini"; }

    QTemporaryDir pasta_;
    std::filesystem::path pasta;
    DialogosFalsos dialogos;
    std::unique_ptr<lumora::TFormPrincipal> janela;
};

}  // namespace apoio
