#include "environment/MsgWin.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/Host.h"
#include "environment/OutputText.h"
#include "environment/Settings.h"

namespace {

MessageDialogRunner& Runner() {
  static MessageDialogRunner runner;
  return runner;
}

// The flag bit of each button in layout order; OK shows always.
constexpr std::array<int, 5> kButtonFlags = {0, dfNo, dfCancel, dfHelp, dfReplaceAll};
constexpr std::array<int, 5> kButtonResults = {mrOk, mrNo, mrCancel, mrHelp, mrReplaceAll};
const std::array<const char16_t*, 5> kButtonCaptionKeys = {u"DIALOG.BUTTON.YES", u"DIALOG.BUTTON.NO",
                                                           u"DIALOG.BUTTON.CANCEL", u"DIALOG.BUTTON.HELP",
                                                           u"DIALOG.BUTTON.REPLACEALL"};

bool IsEnter(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

}  // namespace

QString& LastDialogInput() {
  static QString input;
  return input;
}

void SetMessageDialogRunner(MessageDialogRunner runner) { Runner() = std::move(runner); }

TMsg::TMsg(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      label_(new QLabel(this)),
      edit_(new QLineEdit(this)) {
  setFixedSize(kWidth, kHeight);
  setModal(true);
  label_->setGeometry(8, 16, 415, 57);
  label_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label_->setWordWrap(true);
  label_->setTextFormat(Qt::PlainText);
  edit_->setGeometry(72, 72, 297, 17);
  edit_->hide();
  edit_->installEventFilter(this);
  for (size_t i = 0; i < buttons_.size(); ++i) {
    QPushButton* button = new QPushButton(this);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setCursor(Qt::PointingHandCursor);
    button->resize(kButtonWidth, kButtonHeight);
    const int result = kButtonResults[i];
    connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
    buttons_[i] = button;
  }
}

void TMsg::Prepare(const QString& message, const QString& extra, int flags) {
  buttonCount_ = 0;
  std::array<bool, 5> visible{};
  for (size_t i = 0; i < buttons_.size(); ++i) {
    visible[i] = i == 0 || (flags & kButtonFlags[i]) != 0;
    buttonCount_ += visible[i] ? 1 : 0;
  }
  const bool withEdit = (flags & dfEdit) != 0;
  // C++ division truncates toward zero, as the layout wants.
  int left = (kWidth - buttonCount_ * (kButtonWidth + kButtonGap) + kButtonGap) / 2;
  const int top = withEdit ? 100 : 90;
  for (size_t i = 0; i < buttons_.size(); ++i) {
    buttons_[i]->setVisible(visible[i]);
    if (!visible[i]) continue;
    buttons_[i]->move(left, top);
    left += kButtonWidth + kButtonGap;
  }
  edit_->setVisible(withEdit);
  edit_->setText(LastDialogInput());
  if (withEdit) {
    edit_->setCursorPosition(edit_->text().size());
    edit_->selectAll();
    edit_->setFocus();
  }
  messageText_ = QString::fromStdU16String(DialogText(message.toStdU16String(), extra.toStdU16String()));
  label_->setText(messageText_);
}

void TMsg::ApplySettings(const NameValueList& texts, const QFont& font) {
  setFont(font);
  label_->setFont(font);
  for (size_t i = 0; i < buttons_.size(); ++i) {
    buttons_[i]->setFont(font);
    buttons_[i]->setText(QString::fromStdU16String(texts.GetValueOrKey(kButtonCaptionKeys[i])));
  }
}

QString TMsg::EditText() const { return edit_->text(); }

bool TMsg::CancelVisible() const { return !buttons_[2]->isHidden(); }

bool TMsg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (IsEnter(key->key())) {
      done(mrOk);
      return true;
    }
    if (key->key() == Qt::Key_Escape) {
      done(mrCancel);
      return true;
    }
    // The form sees every key first: with one button any character ends it.
    if (buttonCount_ == 1 && !key->text().isEmpty()) {
      done(mrOk);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TMsg::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (buttonCount_ == 1 && !event->text().isEmpty()) {
    done(mrOk);
  } else if (IsEnter(key)) {
    done(mrOk);
  } else if (key == Qt::Key_Escape) {
    if (CancelVisible()) done(mrCancel);
  } else if (key == Qt::Key_Space && edit_->isHidden()) {
    done(mrOk);
  }
  event->accept();
}

void TMsg::closeEvent(QCloseEvent* event) {
  // A close by the window manager: Cancel when it is offered, else "other".
  event->accept();
  done(CancelVisible() ? mrCancel : 0);
}

int ShowMessageDialog(const MessageDialogSite& site, const QString& message, const QString& extra, int flags) {
  if (message.isEmpty()) return drOk;
  int modal = 0;
  QString editText;
  {
    TMsg dialog(site.Parent);
    dialog.Prepare(message, extra, flags);
    if (site.Texts != nullptr)
      dialog.ApplySettings(*site.Texts, site.Font);
    else
      dialog.ApplySettings(NameValueList(), site.Font);
    if (site.Parent != nullptr) {
      const QRect area = site.Parent->window()->geometry();
      dialog.move(area.center() - QPoint(TMsg::kWidth / 2, TMsg::kHeight / 2));
    }
    modal = Runner() ? Runner()(dialog) : dialog.exec();
    editText = dialog.EditText();
  }
  int answer = drOther;
  switch (modal) {
    case mrOk:
      LastDialogInput() = editText;
      answer = drOk;
      break;
    case mrNo:
      answer = drNo;
      break;
    case mrCancel:
      answer = drCancel;
      break;
    case mrHelp:
      // The caller writes the error history and opens the help page.
      if (site.RepaintMain) site.RepaintMain();
      answer = drHelp;
      break;
    case mrReplaceAll:
      LastDialogInput() = editText;
      answer = drReplaceAll;
      break;
    default:
      break;
  }
  if (site.RedrawScene) site.RedrawScene();
  return answer;
}
