#include "environment/ZAVForm.h"

#include <QCloseEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QToolTip>

#include "environment/EnvState.h"
#include "environment/Main.h"
#include "environment/Settings.h"

EditCommands EditCommandsFor(ToolKind kind, bool isCommandWindow, bool findTextEmpty) {
  const bool source = kind == ToolKind::Source;
  EditCommands commands;
  commands.Save = source && !isCommandWindow;
  commands.SaveAs = source || kind == ToolKind::Output || kind == ToolKind::Plane;
  commands.Cut = source || kind == ToolKind::Output;
  commands.Copy = source || kind == ToolKind::Output || kind == ToolKind::Memory || kind == ToolKind::Plane;
  commands.Print = source || kind == ToolKind::Plane || kind == ToolKind::Output;
  commands.Find = source;
  commands.FindNext = source && !findTextEmpty;
  return commands;
}

TZavtaForm::TZavtaForm(TMainForm& main, const QString& settingsName, ToolKind kind)
    : QMdiSubWindow(nullptr), main_(main), settingsName_(settingsName), kind_(kind) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowFlags(Qt::SubWindow | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  ApplyStoredBounds();
}

std::u16string TZavtaForm::Key(const char16_t* suffix) const { return settingsName_.toStdU16String() + suffix; }

void TZavtaForm::ApplyStoredBounds() {
  EnvState& env = main_.env();
  const int left = GetIntValue(env, env.Settings, Key(u".LEFT"), 0);
  const int top = GetIntValue(env, env.Settings, Key(u".TOP"), 0);
  const int width = GetIntValue(env, env.Settings, Key(u".WIDTH"), 400);
  const int height = GetIntValue(env, env.Settings, Key(u".HEIGHT"), 300);
  const int state = GetIntValue(env, env.Settings, Key(u".STATE"), 0);
  setGeometry(left, top, width, height);
  if (state == 2)
    setWindowState(Qt::WindowMaximized);
  else if (state == 1)
    setWindowState(Qt::WindowMinimized);
}

void TZavtaForm::applyFont() { setFont(main_.envFont()); }

void TZavtaForm::applySettings() { applyFont(); }

void TZavtaForm::setTitle(const QString& title) {
  title_ = title;
  // "[*]" is Qt's modified-mark placeholder; doubled it shows as written.
  QString shown = title;
  shown.replace(u"[*]"_qs, u"[*][*]"_qs);
  setWindowTitle(shown);
}

void TZavtaForm::closeEvent(QCloseEvent* event) {
  EnvState& env = main_.env();
  const QRect bounds = geometry();
  env.Settings.SetValue(Key(u".WIDTH"), QString::number(bounds.width()).toStdU16String());
  env.Settings.SetValue(Key(u".HEIGHT"), QString::number(bounds.height()).toStdU16String());
  env.Settings.SetValue(Key(u".TOP"), QString::number(bounds.top()).toStdU16String());
  env.Settings.SetValue(Key(u".LEFT"), QString::number(bounds.left()).toStdU16String());
  main_.toolWindowClosing(*this);
  QMdiSubWindow::closeEvent(event);
}

// --- hints --------------------------------------------------------------------------

QString HintTextToHtml(const QString& hint) {
  QString html;
  bool bold = false;
  const auto closeBold = [&] {
    if (bold) html += u"</b>"_qs;
    bold = false;
  };
  for (const QChar ch : hint) {
    switch (ch.unicode()) {
      case 2:
        html += bold ? u"</b>"_qs : u"<b>"_qs;
        bold = !bold;
        break;
      case u'\r':
        closeBold();
        html += u"<br>"_qs;
        break;
      case u'\n':
        break;
      case u' ':
        html += u"&nbsp;"_qs;
        break;
      case u'<':
        html += u"&lt;"_qs;
        break;
      case u'>':
        html += u"&gt;"_qs;
        break;
      case u'&':
        html += u"&amp;"_qs;
        break;
      case u'"':
        html += u"&quot;"_qs;
        break;
      default:
        html += ch;
        break;
    }
  }
  closeBold();
  return u"<html><body style=\"white-space:pre\">"_qs + html + u"</body></html>"_qs;
}

void TZavtaHint::ShowHint(const QPoint& globalPos, const QString& hint, QWidget* widget) {
  QToolTip::showText(globalPos, HintTextToHtml(hint), widget, QRect(), hidePauseMs_);
}

bool TZavtaHint::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QObject::eventFilter(watched, event);
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->toolTip().isEmpty()) return QObject::eventFilter(watched, event);
  ShowHint(static_cast<QHelpEvent*>(event)->globalPos(), widget->toolTip(), widget);
  return true;
}
