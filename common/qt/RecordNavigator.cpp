// The record navigator's buttons, their enabled states and actions on the bound table.
#include "common/qt/RecordNavigator.h"

#include <QHBoxLayout>
#include <QToolButton>
#include <algorithm>

#include "common/Unhandled.h"
#include "common/qt/OperatorDialogs.h"

namespace common::qt {
namespace {

struct ButtonLook {
    const char* name;
    char16_t glyph[2];  // code points of the symbol drawn on the button; 0 = none
    const char* hint;
};

// Geometric symbols drawn as text, so that the look does not depend on an icon theme.
constexpr char16_t kBar = 0x258F, kLeft = 0x25C0, kRight = 0x25B6, kUp = 0x25B2;
constexpr ButtonLook kLooks[RecordNavigator::kButtonCount] = {
    {"nbFirst", {kBar, kLeft}, "First record"}, {"nbPrior", {kLeft, 0}, "Prior record"},
    {"nbNext", {kRight, 0}, "Next record"},     {"nbLast", {kRight, kBar}, "Last record"},
    {"nbInsert", {u'+', 0}, "Insert record"},   {"nbDelete", {0x2212, 0}, "Delete record"},
    {"nbEdit", {kUp, 0}, "Edit record"},        {"nbPost", {0x2714, 0}, "Post edit"},
    {"nbCancel", {0x2716, 0}, "Cancel edit"},
};

QString GlyphOf(const ButtonLook& look) {
    QString text;
    for (char16_t c : look.glyph) {
        if (c) text.append(QChar(c));
    }
    return text;
}

}  // namespace

RecordNavigator::RecordNavigator(std::vector<Button> shown, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int b = 0; b < kButtonCount; ++b) {
        auto* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(kLooks[b].name));
        button->setText(GlyphOf(kLooks[b]));
        button->setToolTip(QString::fromLatin1(kLooks[b].hint));
        button->setFixedSize(24, 22);
        button->setFocusPolicy(Qt::NoFocus);
        button->setVisible(std::find(shown.begin(), shown.end(), Button(b)) != shown.end());
        connect(button, &QToolButton::clicked, this, [this, b] { Click(Button(b)); });
        layout->addWidget(button);
        buttons_[b] = button;
    }
    UpdateButtons();
}

void RecordNavigator::SetDataSource(DataSource* source) {
    if (source_) disconnect(source_, nullptr, this, nullptr);
    source_ = source;
    if (source_) connect(source_, &DataSource::changed, this, &RecordNavigator::UpdateButtons);
    UpdateButtons();
}

void RecordNavigator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_) UpdateButtons();
}

void RecordNavigator::UpdateButtons() {
    // Buttons nobody sees (another tab, the window in the notification area) catch up when
    // shown: a busy gate adds a history row every few milliseconds, and each row flips the
    // buttons' states twice on its way in.
    if (!isVisible()) {
        stale_ = true;
        return;
    }
    stale_ = false;
    const MemTable* t = source_ ? &source_->Table() : nullptr;
    const bool active = t && t->Active();
    const bool editing =
        active && (t->State() == TableState::Insert || t->State() == TableState::Edit);
    const bool browsing = active && t->State() == TableState::Browse;
    const bool empty = !active || t->IsEmpty();
    const bool atFirst = !active || t->Bof() || t->RecNo() <= 0;
    const bool atLast = !active || t->Eof() || t->RecNo() >= t->RecordCount() - 1;
    buttons_[First]->setEnabled(active && !empty && !atFirst);
    buttons_[Prior]->setEnabled(active && !empty && !atFirst);
    buttons_[Next]->setEnabled(active && !empty && !atLast);
    buttons_[Last]->setEnabled(active && !empty && !atLast);
    buttons_[Insert]->setEnabled(active);
    buttons_[Delete]->setEnabled(active && !empty);
    buttons_[Edit]->setEnabled(browsing && !empty);
    buttons_[Post]->setEnabled(editing);
    buttons_[Cancel]->setEnabled(editing);
}

void RecordNavigator::Click(Button button) {
    if (!source_) return;
    bool done = false;
    GuardEntryPoint([&] {
        MemTable& t = source_->Table();
        switch (button) {
            case First:
                t.First();
                break;
            case Prior:
                t.Prior();
                break;
            case Next:
                t.Next();
                break;
            case Last:
                t.Last();
                break;
            case Insert:
                t.Insert();
                break;
            case Delete:
                if (!Dialogs().Confirm("Delete record?")) return;
                t.Delete();
                break;
            case Edit:
                t.Edit();
                break;
            case Post:
                t.Post();
                break;
            case Cancel:
                t.Cancel();
                break;
            case kButtonCount:
                return;
        }
        done = true;
    });
    UpdateButtons();
    if (done) emit clicked(button);
}

}  // namespace common::qt
