// The IP address edit control: four octet fields and their dots in one bordered box.
#pragma once

#include <QFrame>
#include <QLineEdit>
#include <array>
#include <cstdint>
#include <string>

class QFocusEvent;
class QKeyEvent;
class QLabel;

namespace modrevo {

// One octet field: a frameless single-line edit that takes at most three typed characters.
// Its number (0 to 3, left to right) is its tag.
class TIPByteEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(Alinhamento Alignment READ Alignment WRITE SetAlignment)

  public:
    enum class Alinhamento { Esquerda, Direita, Centro };
    Q_ENUM(Alinhamento)

    explicit TIPByteEdit(int tag, QWidget* parent = nullptr);

    int Tag() const { return tag_; }
    Alinhamento Alignment() const { return alinhamento_; }
    void SetAlignment(Alinhamento alinhamento);

  private:
    int tag_;
    Alinhamento alinhamento_ = Alinhamento::Centro;
};

// A dotted-quad IPv4 address typed octet by octet, read and written as text or as a number.
// The octet fields are the tab stops; the box itself never takes the focus.
class TIPEdit : public QFrame {
    Q_OBJECT
    Q_PROPERTY(Borda BorderStyle READ BorderStyle WRITE SetBorderStyle)

  public:
    enum class Borda { Nenhuma, Simples };
    Q_ENUM(Borda)

    explicit TIPEdit(QWidget* parent = nullptr);

    // The four octets' texts as they stand, joined by "." without any check.
    std::string Text() const;
    // Splits a dotted text into the octets, each part read the lenient way. Never fails.
    void SetText(const std::string& texto);

    // Octet 0 is the highest byte. Raises EConvertError when an octet is not a whole number.
    uint32_t Value() const;
    void SetValue(uint32_t valor);

    // The control's own flag, carried to the box, the octets and the dots alike.
    bool IsEnabled() const { return habilitado_; }
    void SetEnabled(bool habilitado);

    Borda BorderStyle() const { return borda_; }
    void SetBorderStyle(Borda borda);

    TIPByteEdit* Octeto(int i) const { return octetos_[i]; }
    QLabel* Separador(int i) const { return separadores_[i]; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  signals:
    // Any octet's text changed, typed or written through Text or Value.
    void changed();
    void clicked();
    void doubleClicked();
    // The focus came in from outside; it is already in octet 0.
    void entered();
    void exited();

  protected:
    bool eventFilter(QObject* alvo, QEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;
    void changeEvent(QEvent* evento) override;
    void mousePressEvent(QMouseEvent* evento) override;
    void mouseReleaseEvent(QMouseEvent* evento) override;
    void mouseDoubleClickEvent(QMouseEvent* evento) override;

  private:
    struct Medidas {
        int moldura;       // outer width minus client width
        int molduraV;      // the same in height
        int larguraPonto;  // width of one dot
        int larguraOcteto;
        int alturaLinha;
    };
    Medidas Mede() const;
    void Dispoe();

    bool TeclaNoOcteto(TIPByteEdit& octeto, const QKeyEvent& tecla);
    bool EntraNoOcteto(TIPByteEdit& octeto, const QFocusEvent& foco);
    void SaiDoOcteto(TIPByteEdit& octeto, const QFocusEvent& foco);
    bool EhOcteto(const QObject* objeto) const;

    std::array<TIPByteEdit*, 4> octetos_{};
    std::array<QLabel*, 4> separadores_{};
    bool habilitado_ = true;
    Borda borda_ = Borda::Simples;
    // The focus is somewhere in the octets (window switches and popups left aside).
    bool focoDentro_ = false;
    // The focus is being taken from the octet clicked on the way in over to octet 0.
    bool desviando_ = false;
    // Where the left button went down, for the click on its release.
    QObject* pressionado_ = nullptr;
};

}  // namespace modrevo
