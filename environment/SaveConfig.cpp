#include "environment/SaveConfig.h"

#include <string>

#include "core/Text.h"
#include "environment/EnvState.h"
#include "environment/Settings.h"

namespace {

std::u16string Number(long long value) { return Utf8ToUtf16(std::to_string(value)); }
std::u16string YesNo(bool on) { return on ? u"Yes" : u"No"; }

// The file-name part of a path.
std::u16string FileNamePart(const std::u16string& path) {
  const size_t slash = path.rfind(u'/');
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

void SaveSources(NameValueList& settings, const std::vector<SourceSnapshot>& sources) {
  // An untitled window would leave an empty USERk.FILENAME, which the next
  // start would open as a window named after the key: it is left out.
  long long k = 0;
  for (const SourceSnapshot& source : sources) {
    if (source.FileName.empty()) continue;
    const std::u16string name = u"USER" + Number(++k);
    settings.SetValue(name + u".FILENAME", source.FileName);
    SaveWindowSettings(settings, source.Window, name);
  }
  settings.SetValue(u"USERS", Number(k));
}

std::u16string CheckedLibraries(const std::vector<LibraryEntry>& libraries) {
  std::u16string value;
  for (const LibraryEntry& entry : libraries)
    if (entry.Checked) value += entry.Caption + u",";
  return value;
}

}  // namespace

void SaveWindowSettings(NameValueList& settings, const WindowSnapshot& window, const std::u16string& name) {
  if (!window.Open) {
    settings.SetValue(name, u"No");
    return;
  }
  settings.SetValue(name, u"Yes");
  settings.SetValue(name + u".STATE", Number(window.State));
  settings.SetValue(name + u".LEFT", Number(window.Left));
  settings.SetValue(name + u".TOP", Number(window.Top));
  settings.SetValue(name + u".WIDTH", Number(window.Width));
  settings.SetValue(name + u".HEIGHT", Number(window.Height));
}

bool SaveConfiguration(EnvState& env, const EnvSnapshot& snapshot) {
  if (!IsYesSwitchOn(env.Settings, u"AUTOSAVE") || env.RuntimeMode) return false;
  NameValueList& settings = env.Settings;
  settings.SetValue(u"CASESENSITIVE", YesNo(snapshot.CaseSensitive));
  settings.SetValue(u"FULLSCREEN", YesNo(snapshot.FullScreen));
  settings.SetValue(u"ZAVTAID", snapshot.MachineId);
  settings.SetValue(u"OPENGLMODE", Number(snapshot.PixelFormatIndex));
  for (size_t i = 0; i < snapshot.ReopenCaptions.size() && i < 10; ++i)
    settings.SetValue(u"REOPEN" + Number(static_cast<long long>(i)), snapshot.ReopenCaptions[i]);
  settings.SetValue(u"ENVIRONMENT", FileNamePart(snapshot.LanguageName));
  settings.SetValue(u"CODEPAGE", Number(snapshot.CodePage));
  settings.SetValue(u"FONT.NAME", snapshot.FontName);
  settings.SetValue(u"FONT.CHARSET", Number(snapshot.FontCharset & 0xFF));
  settings.SetValue(u"FONT.SIZE", Number(snapshot.FontSize));
  settings.SetValue(u"FONT.ITALIC", YesNo(snapshot.FontItalic));
  settings.SetValue(u"FONT.BOLD", YesNo(snapshot.FontBold));
  settings.SetValue(u"MAIN.STATE", Number(snapshot.Main.State));
  if (snapshot.Main.State == 0) {
    settings.SetValue(u"MAIN.WIDTH", Number(snapshot.Main.Width));
    settings.SetValue(u"MAIN.HEIGHT", Number(snapshot.Main.Height));
  }
  SaveWindowSettings(settings, snapshot.Plane, u"PLANE");
  SaveWindowSettings(settings, snapshot.Output, u"OUTPUT");
  SaveWindowSettings(settings, snapshot.Command, u"COMMAND");
  SaveWindowSettings(settings, snapshot.Memory, u"MEMORY");
  SaveWindowSettings(settings, snapshot.Web, u"WEB");
  SaveSources(settings, snapshot.Sources);
  if (!env.LibrariesFromCommandLine) settings.SetValue(u"LIBRARIES", CheckedLibraries(snapshot.Libraries));

  if (env.SettingsPath.empty()) return false;
  if (settings.SaveToFile(env.SettingsPath)) return true;
  DebugLog(env, u"Settings could not be saved to " + env.SettingsPath);
  return false;
}
