#include "environment/MainInit.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

#include "core/Text.h"
#include "core/Trans.h"
#include "core/Vars.h"
#include "environment/Version.h"

namespace fs = std::filesystem;

namespace {

// Lines logged while no user folder is known are kept for it, up to this many.
constexpr size_t kMaxPendingDebugLines = 1000;

fs::path ToPath(std::u16string_view text) { return fs::path(Utf16ToUtf8(text)); }
std::u16string FromPath(const fs::path& path) { return Utf8ToUtf16(path.string()); }

std::u16string ForwardSlashes(std::u16string text) {
  for (char16_t& c : text)
    if (c == u'\\') c = u'/';
  return text;
}

// The text as a folder name: "/" separators and a final "/".
std::u16string AsFolder(std::u16string text) {
  text = ForwardSlashes(std::move(text));
  if (text.empty() || text.back() != u'/') text.push_back(u'/');
  return text;
}

// The folder part of a file name, with its final "/".
std::u16string FolderOf(const std::u16string& file) {
  const size_t slash = file.rfind(u'/');
  return slash == std::u16string::npos ? std::u16string() : file.substr(0, slash + 1);
}

// A name made absolute against a folder (which ends in "/"), "." and ".."
// resolved by name.
std::u16string AbsoluteAgainst(const std::u16string& folder, const std::u16string& name) {
  const std::u16string clean = ForwardSlashes(name);
  const std::u16string full = !clean.empty() && clean.front() == u'/' ? clean : folder + clean;
  return FromPath(ToPath(full).lexically_normal());
}

// A path for comparing locations: absolute, symbolic links and "." and ".."
// resolved as far as the path exists, no final "/".
fs::path ComparablePath(std::u16string text) {
  while (text.size() > 1 && text.back() == u'/') text.pop_back();
  const fs::path path = ToPath(text);
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(path, ec);
  if (ec) resolved = fs::absolute(path, ec).lexically_normal();
  return resolved;
}

// True when the path is the folder or lies somewhere inside it.
bool IsInside(const std::u16string& path, const std::u16string& folder) {
  if (path.empty() || folder.empty()) return false;
  const fs::path relative = ComparablePath(path).lexically_relative(ComparablePath(folder));
  return !relative.empty() && *relative.begin() != "..";
}

void WriteDebugLines(EnvState& env) {
  if (env.UserFolder.empty() || env.PendingDebugLog.empty()) return;
  std::string bytes;
  for (const std::u16string& line : env.PendingDebugLog) {
    bytes += Utf16ToUtf8(line);
    bytes += '\n';
  }
  env.PendingDebugLog.clear();
  const std::string path = Utf16ToUtf8(env.UserFolder + u"gdm.log");
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

// Program, help, user and launch folders; the user folder is created.
void SetUpFolders(EnvState& env, const StartupInput& input) {
  TStructure& s = env.S;
  std::error_code ec;

  fs::path launch;
  if (!input.CurrentFolder.empty()) {
    launch = fs::absolute(ToPath(ForwardSlashes(input.CurrentFolder)), ec);
    fs::current_path(launch, ec);
  } else {
    launch = fs::current_path(ec);
  }
  env.LaunchFolder = AsFolder(FromPath(launch.lexically_normal()));

  const std::u16string program = input.ProgramFolder.empty() ? env.LaunchFolder : AsFolder(input.ProgramFolder);
  env.ProgramFolder = AsFolder(AbsoluteAgainst(env.LaunchFolder, program));

  // A program folder named System (the installed layout) sits directly in
  // the root; any other sits one level below it.
  const std::u16string withoutSlash = env.ProgramFolder.substr(0, env.ProgramFolder.size() - 1);
  const size_t lastSlash = withoutSlash.rfind(u'/');
  const std::u16string lastName = lastSlash == std::u16string::npos ? withoutSlash : withoutSlash.substr(lastSlash + 1);
  if (UpperCase(lastName) == u"SYSTEM" && lastSlash != std::u16string::npos)
    env.RootFolder = withoutSlash.substr(0, lastSlash + 1);
  else
    env.RootFolder = env.ProgramFolder + u"../";

  env.ImagesFolder = env.ProgramFolder + u"../Images/";
  env.LanguagesFolder = env.ProgramFolder + u"../Languages/";
  env.CharactersFolder = env.ProgramFolder + u"../Characters/";
  env.HelpFolder = env.ProgramFolder + u"../Help/";

  env.UserFolder.clear();
  env.UserHelpFolder.clear();
  const std::u16string appData = GetAppDataFolder(input);
  if (!appData.empty()) {
    const std::u16string user = appData + u"Zavta56/";
    const fs::path help = ToPath(user + u"Help/");
    fs::create_directories(help, ec);
    if (fs::is_directory(help, ec)) {
      env.UserFolder = user;
      env.UserHelpFolder = user + u"Help/";
    }
  }

  env.SettingsFolder.clear();
  s.ProgramFolder = env.ProgramFolder;
  s.RootFolder = env.RootFolder;
  s.CharactersFolder = env.CharactersFolder;
  s.UserFolder = env.UserFolder;
  s.HelpFolder = env.UserHelpFolder;
  s.SettingsFolder = env.SettingsFolder;

  WriteDebugLines(env);  // the lines logged before the user folder was known
}

// The user's help copy is replaced when it is missing or older than the
// program's; the user's settings are then reset from the factory file, the
// old file kept as "default.ini.bak".
void RefreshUserHelp(EnvState& env) {
  if (env.UserHelpFolder.empty()) return;
  std::error_code ec;
  const fs::path programMain = ToPath(env.HelpFolder + u"main.xml");
  if (!fs::is_regular_file(programMain, ec)) return;
  const fs::file_time_type programTime = fs::last_write_time(programMain, ec);
  if (ec) return;

  const fs::path userMain = ToPath(env.UserHelpFolder + u"main.xml");
  if (fs::is_regular_file(userMain, ec)) {
    const fs::file_time_type userTime = fs::last_write_time(userMain, ec);
    if (!ec && !(userTime < programTime)) return;
  }

  CopyFolder(env.HelpFolder, env.UserFolder);

  const fs::path factory = ToPath(env.ProgramFolder + u"default.ini.org");
  if (!fs::is_regular_file(factory, ec)) return;
  const fs::path userIni = ToPath(env.UserFolder + u"default.ini");
  if (fs::is_regular_file(userIni, ec))
    fs::copy_file(userIni, ToPath(env.UserFolder + u"default.ini.bak"), fs::copy_options::overwrite_existing, ec);
  fs::copy_file(factory, userIni, fs::copy_options::overwrite_existing, ec);
  fs::permissions(userIni, fs::perms::owner_write, fs::perm_options::add, ec);
}

// The last name's extension with its dot; empty when it has none.
std::u16string Extension(const std::u16string& name) {
  const size_t slash = name.rfind(u'/');
  const size_t start = slash == std::u16string::npos ? 0 : slash + 1;
  const size_t dot = name.rfind(u'.');
  if (dot == std::u16string::npos || dot <= start) return {};
  return name.substr(dot);
}

// The settings file named on the command line: for each parameter in turn
// (those beginning with "!" are library lists and skipped), the first rule
// that applies ends the scan.
std::u16string ScanForSettingsParameter(const std::vector<std::u16string>& arguments,
                                        const std::u16string& launchFolder) {
  for (const std::u16string& argument : arguments) {
    if (argument.empty() || argument.front() == u'!') continue;
    const std::u16string name = ForwardSlashes(argument);
    const std::u16string extension = Extension(name);
    if (UpperCase(extension) == u".INI") return name;
    if (extension.empty()) return name + u".ini";
    if (FileExists(AbsoluteAgainst(launchFolder, name + u".ini"))) return name + u".ini";
  }
  return {};
}

// Chooses, locates and loads the settings file and sets the save target.
void LoadSettings(EnvState& env, const StartupInput& input) {
  TStructure& s = env.S;
  const std::u16string factoryIni = env.ProgramFolder + u"default.ini.org";
  const std::u16string userIni = env.UserFolder.empty() ? std::u16string() : env.UserFolder + u"default.ini";

  // "default.ini" always means the user's own file, never a file found by
  // searching, so that a stray default.ini elsewhere is neither read nor
  // overwritten.
  std::u16string chosen;
  bool isDefault = false;
  env.ResetRequested = input.CtrlHeld;
  if (env.ResetRequested) {
    DebugLog(env, u"Requested environment initializetion (CTRL is pressed)");
    if (!userIni.empty()) {
      NameValueList factory;
      if (factory.LoadFromFile(factoryIni)) (void)factory.SaveToFile(userIni);
      chosen = userIni;
      isDefault = true;
    }
  } else {
    DebugLog(env, u"Scanning for *.INI parameter");
    chosen = ScanForSettingsParameter(input.Arguments, env.LaunchFolder);
    DebugLog(env, u"Configuration file: [" + chosen + u"]");
  }

  if (chosen.empty() || chosen.front() == u'!') {
    chosen = u"default.ini";
    isDefault = true;
    DebugLog(env, u"Configuration file reset to: [" + chosen + u"]");
  }

  std::u16string located;
  bool found = false;
  if (isDefault) {
    located = userIni.empty() ? chosen : userIni;
    found = !userIni.empty() && FileExists(userIni);
  } else {
    located = LocateFile(s, chosen);
    found = FileExists(located);
  }
  DebugLog(env, u"Configuration file located as: [" + located + u"]");

  env.Settings.Clear();
  std::u16string loaded;
  std::u16string target;
  if (found) {
    DebugLog(env, u"Reading congifuration file");
    loaded = AbsoluteAgainst(env.LaunchFolder, located);
    target = loaded;
  } else {
    DebugLog(env, u"No configuration file found");
    DebugLog(env, u"Reading original congifuration file");
    loaded = factoryIni;
    DebugLog(env, u"Configuration file reset to: [" + loaded + u"]");
    // The save at exit creates the file that was asked for.
    target = isDefault ? userIni : AbsoluteAgainst(env.LaunchFolder, chosen);
  }
  if (!env.Settings.LoadFromFile(loaded)) DebugLog(env, u"ERROR Reading congifuration file");

  env.SettingsFolder = FolderOf(loaded);
  s.SettingsFolder = env.SettingsFolder;
  std::error_code ec;
  fs::current_path(ToPath(env.SettingsFolder), ec);

  // The program's own tree is never written; the user folder always may be.
  if (IsInside(target, env.RootFolder) && !IsInside(target, env.UserFolder)) target.clear();
  env.SettingsPath = target;
}

}  // namespace

void DebugLog(EnvState& env, std::u16string_view text) {
  if (!env.DebugLogMode) return;
  if (env.UserFolder.empty() && env.PendingDebugLog.size() >= kMaxPendingDebugLines) return;
  env.PendingDebugLog.emplace_back(text);
  WriteDebugLines(env);
}

std::u16string GetAppDataFolder(const StartupInput& input) {
  const auto absolute = [](const std::optional<std::u16string>& value) {
    return value.has_value() && !value->empty() && value->front() == u'/';
  };
  std::u16string folder;
  if (absolute(input.XdgDataHome))
    folder = *input.XdgDataHome;
  else if (absolute(input.Home))
    folder = AsFolder(*input.Home) + u".local/share";
  else
    return {};
  while (folder.size() > 1 && folder.back() == u'/') folder.pop_back();
  return AsFolder(folder);
}

bool CopyFolder(const std::u16string& from, const std::u16string& to) {
  std::error_code ec;
  std::u16string source = ForwardSlashes(from);
  while (source.size() > 1 && source.back() == u'/') source.pop_back();
  const fs::path sourcePath = ToPath(source).lexically_normal();
  if (!fs::is_directory(sourcePath, ec) || !sourcePath.has_filename()) return false;
  const fs::path targetPath = (ToPath(AsFolder(to)) / sourcePath.filename()).lexically_normal();
  // A folder copied into itself would never end.
  if (IsInside(FromPath(targetPath), FromPath(sourcePath))) return false;

  fs::create_directories(targetPath, ec);
  if (!fs::is_directory(targetPath, ec)) return false;

  bool ok = true;
  for (fs::recursive_directory_iterator it(sourcePath, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entryError;
    const fs::path& entry = it->path();
    const fs::path target = targetPath / entry.lexically_relative(sourcePath);
    if (it->is_directory(entryError)) {
      fs::create_directories(target, entryError);
      if (!fs::is_directory(target, entryError)) ok = false;
    } else if (it->is_regular_file(entryError)) {
      fs::copy_file(entry, target, fs::copy_options::overwrite_existing, entryError);
      if (entryError) {
        ok = false;
        continue;
      }
      // A read-only source file must not make its copy impossible to refresh.
      fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, entryError);
      const fs::file_time_type time = fs::last_write_time(entry, entryError);
      if (!entryError) fs::last_write_time(target, time, entryError);
      if (entryError) ok = false;
    }
  }
  if (ec) ok = false;
  return ok;
}

void ClearErrorPageFiles(EnvState& env) {
  if (env.UserHelpFolder.empty()) return;
  static constexpr const char16_t* kNames[] = {
      u"$$$error-01$$$.txt",  u"$$$error-02$$$.txt",   u"$$$error-03$$$.txt", u"$$$error-04$$$.txt",
      u"$$$error-05$$$.txt",  u"$$$error-06$$$.txt",   u"$$$error-07$$$.txt", u"$$$error-08$$$.txt",
      u"$$$error-09$$$.txt",  u"$$$error-10$$$.txt",   u"$$$error-11$$$.txt", u"$$$error-name$$$.txt",
      u"$$$error-pos$$$.txt", u"$$$error-line$$$.txt",
  };
  for (const char16_t* name : kNames) {
    try {
      WriteUnicodeFile(env.UserHelpFolder + name, u"");
    } catch (const std::exception&) {
      // The help page shows an empty detail; nothing else depends on it.
    }
  }
}

void ParseVersion(EnvState& env, std::u16string_view fileVersion) {
  const auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
  while (!fileVersion.empty() && blank(fileVersion.front())) fileVersion.remove_prefix(1);
  while (!fileVersion.empty() && blank(fileVersion.back())) fileVersion.remove_suffix(1);

  const size_t first = fileVersion.find(u'.');
  const size_t second = first == std::u16string_view::npos ? first : fileVersion.find(u'.', first + 1);
  const size_t third = second == std::u16string_view::npos ? second : fileVersion.find(u'.', second + 1);
  if (third == std::u16string_view::npos) {
    env.VersionMajor.clear();
    env.VersionMinor.clear();
    env.VersionBuild.clear();
    env.VersionText = u"?.??";
    return;
  }
  env.VersionMajor = fileVersion.substr(0, first);
  env.VersionMinor = fileVersion.substr(first + 1, second - first - 1);
  env.VersionBuild = fileVersion.substr(third + 1);
  env.VersionText = env.VersionMajor + u"." + env.VersionMinor + u" (build " + env.VersionBuild + u")";
}

void MainUnitInit(EnvState& env, const StartupInput& input) {
  env.DebugLogMode = input.ShiftHeld;
  DebugLog(env, u"Entering GLOBAL DEBUG MODE");

  env.WindowsXPOrLater = true;

  ParseVersion(env, ZAVTA_FILE_VERSION);
  DebugLog(env, u"  Zavta version [" + env.VersionText + u"]");

  env.Quitting = false;
  env.SettingsPath.clear();

  SetUpFolders(env, input);
  RefreshUserHelp(env);
  ClearErrorPageFiles(env);
  LoadSettings(env, input);

  env.RuntimeMode = false;
  env.EnvironmentReady = false;
  env.SyntaxColors[scPrimitive] = MakeRgb(0, 0, 0);
  env.SyntaxColors[scText] = MakeRgb(0, 0, 0);
  env.SyntaxColors[scNumber] = MakeRgb(0, 0, 0);
  env.SyntaxColors[scVariable] = MakeRgb(0, 0, 200);
  env.SyntaxColors[scWord] = MakeRgb(0, 100, 0);
  env.SyntaxColors[scComment] = MakeRgb(96, 96, 96);
  env.SyntaxColors[scLibrary] = MakeRgb(128, 0, 0);
}
