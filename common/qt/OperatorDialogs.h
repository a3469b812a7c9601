// The message boxes a program shows its operator, behind one interface that tests replace.
#pragma once

#include <functional>
#include <string>

namespace common::qt {

// Texts are Windows-1252 bytes. Every box is modal and waits for the operator.
class IOperatorDialogs {
  public:
    virtual ~IOperatorDialogs() = default;
    // "Aten\xE7\xE3o", information icon, OK.
    virtual void Notice(const std::string& text) = 0;
    // "Aten\xE7\xE3o", question icon, Yes and No; true on Yes.
    virtual bool Question(const std::string& text) = 0;
    // The record navigators' and grids' "Delete record?": question icon, OK and Cancel,
    // titled "Confirm" like the rest of that English text; true on OK.
    virtual bool Confirm(const std::string& text) = 0;
    // The program's title, no icon, OK.
    virtual void Plain(const std::string& text) = 0;
    // The unhandled-failure box: the program's title, error icon, OK.
    virtual void Failure(const std::string& text) = 0;
    // While that box is open: `count` further failures have come and gone to the log.
    virtual void FailuresMeanwhile(int count) { (void)count; }
};

// The dialogs in force: the message boxes, unless a test has put its own in place, or the
// unanswered boxes while nobody can answer.
IOperatorDialogs& Dialogs();
// Null puts the message boxes back. The caller keeps ownership.
void SetDialogs(IOperatorDialogs* dialogs);

// QMessageBox, parented to the active window, titled with the application's name. Each box
// holds common::BoxScope while it is open.
class MessageBoxDialogs : public IOperatorDialogs {
  public:
    void Notice(const std::string& text) override;
    bool Question(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    void Plain(const std::string& text) override;
    void Failure(const std::string& text) override;
    // Adds a line to the open failure box saying how many more failures came meanwhile.
    void FailuresMeanwhile(int count) override;
};

// Where nobody can answer a box (no screen, or the program is ending), no box may wait: each
// is written as one line ("Erro: ", "Aviso: " or "Pergunta: " and its text) to stderr and to
// the sink, and answered at once: OK, or No and Cancel for a question, so that nobody's word
// changes nothing.
class UnansweredDialogs : public IOperatorDialogs {
  public:
    void Notice(const std::string& text) override;
    bool Question(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    void Plain(const std::string& text) override;
    void Failure(const std::string& text) override;
};
// From now on (or no longer) Dialogs() gives the unanswered boxes, a test's own included.
void SetNobodyAnswers(bool nobody);
bool NobodyAnswers();
// Where the unanswered boxes' lines go besides stderr (the receiver's traffic log); null: none.
void SetUnansweredSink(std::function<void(const std::string& line)> sink);
// Closes the message boxes on screen as if nobody had answered them (OK, No, Cancel): the
// handling that opened them goes on once control is back in their loops.
void CloseOpenBoxes();

// Sends every unhandled failure (common::ReportUnhandled) to Dialogs().Failure, and the count of
// those that come while that box is open to Dialogs().FailuresMeanwhile.
void InstallFailureBox();

// The line the failure box gains when more failures came while it was open.
std::string FailuresMeanwhileText(int count);

// The title of the notice and question boxes.
inline const std::string kTituloAtencao = "Aten\xE7\xE3o";

}  // namespace common::qt
