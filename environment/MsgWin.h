#pragma once
// The environment's one modal message box: a message, up to five buttons
// (OK always, No, Cancel, Help, Replace all) and an optional edit box whose
// text is kept for the next dialog. ShowMessageDialog returns a
// DialogResult (core/Host.h).

#include <QDialog>
#include <QFont>
#include <QString>
#include <array>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class NameValueList;

// Modal results of the dialog's buttons.
enum MsgModalResult : int { mrOk = 1, mrCancel = 2, mrNo = 7, mrHelp = 18, mrReplaceAll = 19 };

class TMsg : public QDialog {
  Q_OBJECT
public:
  static constexpr int kWidth = 430;
  static constexpr int kHeight = 141;
  static constexpr int kButtonWidth = 89;
  static constexpr int kButtonHeight = 25;
  static constexpr int kButtonGap = 16;

  explicit TMsg(QWidget* parent = nullptr);

  // Lays the dialog out for the flags (DialogFlags) and shows the text.
  void Prepare(const QString& message, const QString& extra, int flags);
  // The environment font and the button captions of the language texts.
  void ApplySettings(const NameValueList& texts, const QFont& font);

  const QString& MessageText() const { return messageText_; }
  QString EditText() const;
  int ButtonCount() const { return buttonCount_; }
  // In the layout order OK, No, Cancel, Help, Replace all.
  QPushButton* Button(int index) const { return buttons_[static_cast<size_t>(index)]; }
  QLineEdit* EditBox() const { return edit_; }
  QLabel* Label() const { return label_; }

  // Escape ends the dialog only where the key rules say so.
  void reject() override {}

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  bool CancelVisible() const;

  QLabel* label_;
  QLineEdit* edit_;
  std::array<QPushButton*, 5> buttons_{};
  QString messageText_;
  int buttonCount_ = 1;
};

// Where the dialog shows and what it asks of the environment.
struct MessageDialogSite {
  const NameValueList* Texts = nullptr;  // button captions; null: the keys
  QFont Font;
  QWidget* Parent = nullptr;
  std::function<void()> RepaintMain;  // Help repaints the main window
  std::function<void()> RedrawScene;  // after the dialog, while a plane exists
};

// Shows the dialog modally; an empty message returns 0 at once.
int ShowMessageDialog(const MessageDialogSite& site, const QString& message, const QString& extra, int flags);

// The edit box's text carried from one dialog to the next.
QString& LastDialogInput();

// The modal run of the dialog (exec() unless a test scripts it): gets the
// prepared dialog, returns its modal result.
using MessageDialogRunner = std::function<int(TMsg&)>;
void SetMessageDialogRunner(MessageDialogRunner runner);
