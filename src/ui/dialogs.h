#pragma once
// The four small modal dialogs of the window. Each is created at its first use and afterwards only
// hidden and shown again; each carries the objectNames its controls are known by.

#include "blocks/bytediff.h"
#include "blocks/eepblock.h"
#include "person/interaction.h"

#include <QDialog>
#include <QList>
#include <functional>

class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace x45::ui {

class HexDumpView;

// The overwrite question: five answers, closing through the window frame answers "Cancel".
class RewritePromtForm final : public QDialog {
    Q_OBJECT
public:
    explicit RewritePromtForm(QWidget* parent = nullptr);
    // Shows the question modally; returns the answer.
    RewriteAnswer ask(const QString& question);
    // Shows it window-modal and returns at once; `answered` runs with the answer.
    QWidget* askLater(const QString& question, const std::function<void(RewriteAnswer)>& answered);
    // Code of the last button pressed (0 before the first answer).
    [[nodiscard]] RewriteAnswer rewriteAnswer() const { return answer_; }

protected:
    void reject() override; // frame close or Escape

private:
    void prepare(const QString& question);
    void answer(RewriteAnswer code);

    QLabel* question_;
    RewriteAnswer answer_ = RewriteAnswer::Cancel;
};

// "Load custom blocks": a typed list of block numbers; empty on Cancel or close.
class LoadCustomPromt final : public QDialog {
    Q_OBJECT
public:
    explicit LoadCustomPromt(QWidget* parent = nullptr);
    QString ask();
    // Window-modal; `answered` runs with what ask() would return.
    QWidget* askLater(const std::function<void(const QString&)>& answered);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void prepare();
    [[nodiscard]] QString typed(int result) const;

    QLineEdit* text_;
};

// "Load custom block file": number and version of a block whose id file is missing.
class LoadUserCustomPromt final : public QDialog {
    Q_OBJECT
public:
    explicit LoadUserCustomPromt(QWidget* parent = nullptr);
    // Both texts trimmed; both empty on Cancel or close.
    BlockInfoTexts ask(const QString& message);
    // Window-modal; `answered` runs with what ask() would return.
    QWidget* askLater(const QString& message,
                      const std::function<void(const BlockInfoTexts&)>& answered);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void prepare(const QString& message);
    [[nodiscard]] BlockInfoTexts typed(int result) const;

    QLabel* message_;
    QLineEdit* number_;
    QLineEdit* version_;
};

// The result of a comparison that found differences. Choosing an entry of "Different blocks:"
// shows both versions of that block side by side, the differing bytes marked.
class CompareForm final : public QDialog {
    Q_OBJECT
public:
    explicit CompareForm(QWidget* parent = nullptr);
    // The lists compared (copies), where the chosen block's two versions are looked up.
    void setCompared(const BlockList& user, const BlockList& phone);
    // Refills the three lists (numbers without blanks) and shows the dialog window-modal.
    void showResult(const QList<int>& phoneMissing, const QList<int>& userMissing,
                    const QList<int>& different);
    // Shows both versions of this block (what choosing it in "Different blocks:" does); a number
    // missing on either side empties the byte view.
    void showBlock(int blockId);
    // Scrolls both versions to the next differing range, after the last back to the first.
    void nextDifference();

private:
    // The three lists of block numbers with their captions, and the two byte views.
    QGridLayout* makeNumberLists();
    QGridLayout* makeByteSides();
    void clearBytes();

    QListWidget* phoneMissing_;
    QListWidget* userMissing_;
    QListWidget* different_;
    QLabel* summary_;
    QLabel* userCaption_;
    QLabel* phoneCaption_;
    HexDumpView* userBytes_;
    HexDumpView* phoneBytes_;
    QPushButton* next_;
    BlockList user_;
    BlockList phone_;
    QVector<ByteRange> ranges_;
    int nextRange_ = 0;
};

} // namespace x45::ui
