#include "environment/Shutdown.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>

#include "core/Host.h"
#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/CommandWin.h"
#include "graphics/Graphics.h"
#include "graphics/plane/PlnWin.h"
#include "environment/EnvState.h"
#include "environment/Main.h"
#include "environment/MsgWin.h"
#include "environment/OutWin.h"
#include "environment/SrcWin.h"
#include "environment/StartupRules.h"
#include "environment/VarWin.h"
#include "environment/ZAVForm.h"

namespace {

WindowSnapshot SnapshotOfWindow(const QWidget* window) {
  WindowSnapshot snapshot;
  if (window == nullptr) return snapshot;
  snapshot.Open = true;
  snapshot.State = window->isMinimized() ? 1 : window->isMaximized() ? 2 : 0;
  const QRect frame = window->isMaximized() || window->isMinimized() ? window->normalGeometry() : window->geometry();
  snapshot.Left = frame.left();
  snapshot.Top = frame.top();
  snapshot.Width = frame.width();
  snapshot.Height = frame.height();
  return snapshot;
}

// Yes on one window: saved, or (untitled) saved as while the close still goes
// on. A failed save has shown its error already.
bool SaveOnExit(TSource& source, bool goOn) {
  if (!source.title().isEmpty()) return source.Save();
  return goOn && source.SaveAs();
}

}  // namespace

bool CloseRequested(TMainForm& main) {
  TInterpreter& in = main.interpreter();
  EnvState& env = main.env();
  const uint8_t stateBefore = in.RunState;
  in.RunState = rsStop;
  env.Quitting = true;

  bool goOn = true;
  const QList<QPointer<TZavtaForm>> windows = main.sourceWindows();
  for (const QPointer<TZavtaForm>& window : windows) {
    auto* source = qobject_cast<TSource*>(window.data());
    if (source == nullptr || source->isCommandWindow() || !source->editor()->document()->isModified()) continue;
    const QString prompt = QString::fromStdU16String(
        FormatMessage(env.LanguageTexts.GetValueOrKey(u"DIALOG.SAVESOURCE"), {source->title().toStdU16String()}));
    switch (main.showMessage(prompt, QString(), dfOk | dfNo | dfCancel)) {
      case drOk:
        if (!SaveOnExit(*source, goOn)) goOn = false;
        break;
      case drNo:
        break;
      default:  // Cancel, or the dialog closed another way
        goOn = false;
        break;
    }
  }

  if (!goOn) {
    // The environment stays as it was: no stop request, no quitting mark.
    in.RunState = stateBefore;
    env.Quitting = false;
    main.runControl().ExitPending = false;
    return false;
  }
  SaveConfigurationOnce(main);
  env.EnvironmentReady = false;
  return true;
}

EnvSnapshot SnapshotOf(TMainForm& main) {
  EnvState& env = main.env();
  EnvSnapshot snapshot;
  snapshot.CaseSensitive = env.S.CaseSensitive;
  snapshot.FullScreen = IsYesSwitchOn(env.Settings, u"FULLSCREEN");
  snapshot.MachineId = main.services().MachineId ? main.services().MachineId() : GetMachineId();
  // Without the graphics (tests of the windows alone) no format was chosen.
  if (main.interpreter().OwnGraphics != nullptr)
    snapshot.PixelFormatIndex = Graphics::Of(main.interpreter()).PixelFormatIndex;
  for (const ReopenEntry& entry : env.Reopen.Entries()) snapshot.ReopenCaptions.push_back(entry.Caption);
  snapshot.LanguageName = env.LanguageName;
  snapshot.CodePage = env.S.Language.CodePage;
  const QFont font = main.envFont();
  snapshot.FontName = font.family().toStdU16String();
  snapshot.FontCharset = env.Charset;
  snapshot.FontSize = font.pointSize() > 0 ? font.pointSize() : SettingsDefaults::kFontSize;
  snapshot.FontItalic = font.italic();
  snapshot.FontBold = font.bold();
  snapshot.Main = SnapshotOfWindow(&main);
  snapshot.Plane = SnapshotOfWindow(main.plane());
  snapshot.Output = SnapshotOfWindow(main.output());
  snapshot.Command = SnapshotOfWindow(main.commandWindow());
  snapshot.Memory = SnapshotOfWindow(main.memoryWindow());
  for (const QPointer<TZavtaForm>& window : main.sourceWindows()) {
    auto* source = qobject_cast<TSource*>(window.data());
    if (source == nullptr || source->isCommandWindow()) continue;
    snapshot.Sources.push_back({source->FileName.toStdU16String(), SnapshotOfWindow(source)});
  }
  snapshot.Libraries = env.Libraries;
  return snapshot;
}

void SaveConfigurationOnce(TMainForm& main) {
  EnvState& env = main.env();
  if (env.ConfigurationSaved) return;
  env.ConfigurationSaved = true;
  SaveConfiguration(env, SnapshotOf(main));
}
