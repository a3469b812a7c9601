// The program folder as the main window shows it, and the icon the window and tray carry.
#include <QLabel>
#include <QStatusBar>

#include "ApoioJanelas.h"
#include "receiver/shell/IconePrograma.h"

namespace {

using apoio::JanelaTest;

class PastaIconeTest : public JanelaTest {};

TEST_F(PastaIconeTest, SecondStatusPanelShowsTheProgramFolder) {
    // A long folder: the panel shows both ends, the tooltip the whole path.
    pasta = pasta / "uma pasta de programa com nome bem comprido" / "Lumora";
    std::filesystem::create_directories(pasta);
    auto& j = Abre();
    j.show();
    auto* painel = Controle<QLabel>("StatusPanel1");
    ASSERT_NE(painel, nullptr);
    const QString caminho = QString::fromStdString(pasta.string());
    EXPECT_EQ(painel->toolTip(), caminho);
    EXPECT_TRUE(painel->text().endsWith(QStringLiteral("Lumora"))) << painel->text().toStdString();
    EXPECT_TRUE(painel->text().startsWith(caminho.left(4))) << painel->text().toStdString();
    // Within the window: the panel never pushes the fixed-size window wider.
    EXPECT_LE(painel->geometry().right(), j.width());
    EXPECT_EQ(j.width(), 375);
}

TEST(IconePrograma, CarriesTheThemeSizes) {
    const QIcon icone = lumora::IconePrograma();
    ASSERT_FALSE(icone.isNull());
    for (int t : {16, 32, 48}) {
        EXPECT_TRUE(icone.availableSizes().contains(QSize(t, t))) << t;
        const QImage imagem = icone.pixmap(t, t).toImage();
        EXPECT_EQ(imagem.size(), QSize(t, t)) << t;
        // Drawn, not blank: the corners are the background's, the middle holds the picture.
        EXPECT_GT(qAlpha(imagem.pixel(t / 2, t / 2)), 0) << t;
    }
}

}  // namespace
