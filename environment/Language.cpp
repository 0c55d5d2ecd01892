#include "environment/Language.h"

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "core/Text.h"
#include "core/Vars.h"
#include "environment/EnvState.h"

namespace {

namespace fs = std::filesystem;

std::u16string LanguageFilePath(const EnvState& env) { return env.LanguagesFolder + env.LanguageName + u".txt"; }

bool FileExists(const std::u16string& path) {
  std::error_code ec;
  return fs::is_regular_file(fs::path(Utf16ToUtf8(path)), ec);
}

// The whole file; nothing when it cannot be read.
std::optional<std::string> ReadBytes(const std::u16string& path) {
  std::ifstream in(fs::path(Utf16ToUtf8(path)), std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool HasUtf16Mark(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE;
}

// The UTF-16LE units after the byte-order mark, up to the first NUL unit; an
// odd last byte is ignored.
std::u16string DecodeUtf16Le(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

// 8-bit text up to the first NUL byte: UTF-8 when valid (a UTF-8 byte-order
// mark dropped), else Windows-1252.
std::u16string Decode8Bit(std::string_view bytes) {
  const size_t nul = bytes.find('\0');
  if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);
  if (!IsValidUtf8(bytes)) return CodePageToUtf16(bytes, 1252);
  std::u16string text = Utf8ToUtf16(bytes);
  if (!text.empty() && text.front() == u'\uFEFF') text.erase(0, 1);
  return text;
}

}  // namespace

const std::array<MenuCaptionKey, 41> kMenuCaptionKeys = {{
    {u"MenuFile", u"MENU.FILE"},
    {u"MenuNew", u"MENU.FILE.NEW"},
    {u"MenuOpen", u"MENU.FILE.OPEN"},
    {u"MenuReopen", u"MENU.FILE.REOPEN"},
    {u"MenuSave", u"MENU.FILE.SAVE"},
    {u"MenuSaveAs", u"MENU.FILE.SAVEAS"},
    {u"MenuPrint", u"MENU.FILE.PRINT"},
    {u"MenuExit", u"MENU.FILE.EXIT"},
    {u"MenuEdit", u"MENU.EDIT"},
    {u"MenuCut", u"MENU.EDIT.CUT"},
    {u"MenuCopy", u"MENU.EDIT.COPY"},
    {u"MenuPaste", u"MENU.EDIT.PASTE"},
    {u"MenuDelete", u"MENU.EDIT.DELETE"},
    {u"MenuFind", u"MENU.EDIT.FIND"},
    {u"MenuFindNext", u"MENU.EDIT.FINDNEXT"},
    {u"MenuReplace", u"MENU.EDIT.REPLACE"},
    {u"MenuView", u"MENU.VIEW"},
    {u"MenuOutput", u"MENU.VIEW.OUTPUT"},
    {u"MenuPlane", u"MENU.VIEW.PLANE"},
    {u"MenuCommand", u"MENU.VIEW.COMMAND"},
    {u"MenuMemory", u"MENU.VIEW.MEMORY"},
    {u"MenuRunM", u"MENU.RUN"},
    {u"MenuRun", u"MENU.RUN.RUN"},
    {u"MenuStop", u"MENU.RUN.STOP"},
    {u"MenuReset", u"MENU.RUN.RESET"},
    {u"MenuStep", u"MENU.RUN.RUNSTEP"},
    {u"MenuCmd", u"MENU.RUN.RUNCOMMAND"},
    {u"MenuTo", u"MENU.RUN.RUNTO"},
    {u"MenuOptions", u"MENU.OPTIONS"},
    {u"MenuLibraries", u"MENU.OPTIONS.LIBRARIES"},
    {u"MenuLibrariesLoad", u"MENU.OPTIONS.LIBRARIES.ANOTHER"},
    {u"MenuFont", u"MENU.OPTIONS.FONT"},
    {u"MenuLanguage", u"MENU.OPTIONS.LANGUAGE"},
    {u"MenuGraphics", u"MENU.OPTIONS.GRAPHICS"},
    {u"MenuHardware", u"MENU.OPTIONS.GRAPHICS.HARDWARE"},
    {u"MenuSoftware", u"MENU.OPTIONS.GRAPHICS.SOFTWARE"},
    {u"MenuGraphicsMore", u"MENU.OPTIONS.GRAPHICS.ADVANCEDMODE"},
    {u"MenuHelp", u"MENU.HELP"},
    {u"MenuInfo", u"MENU.HELP.HELP"},
    {u"MenuSearch", u"MENU.HELP.SEARCH"},
    {u"MenuHome", u"MENU.HELP.ZAVTAHOME"},
}};

void LoadLanguage(EnvState& env) {
  // Numbers are formatted and parsed for the language itself, never in the
  // user's locale; this holds even when no language file can be found.
  std::setlocale(LC_NUMERIC, "C");

  std::u16string path = LanguageFilePath(env);
  DebugLog(env, u"Language file=" + path);
  if (!FileExists(path)) {
    env.LanguageName = u"English";
    path = LanguageFilePath(env);
    if (!FileExists(path)) {
      DebugLog(env, u"Language file not found, the current language stays: " + path);
      return;
    }
  }
  DebugLog(env, u"Using language file=" + path);

  const std::optional<std::string> bytes = ReadBytes(path);
  if (!bytes) {
    DebugLog(env, u"Language file cannot be read, the current language stays: " + path);
    return;
  }

  TLanguage& language = env.S.Language;
  if (HasUtf16Mark(*bytes)) {
    // The file's own code page serves every later 8-bit conversion; its texts
    // are already UTF-16 and are taken unconverted, so nothing is lost.
    env.LanguageTexts.SetText(DecodeUtf16Le(*bytes));
    language.CodePage = GetIntValue(env, env.LanguageTexts, u"CODEPAGE", 1252);
    env.Charset = GetIntValue(env, env.LanguageTexts, u"CHARSET", 1);
  } else {
    // An 8-bit file's CODEPAGE and CHARSET keys have no effect.
    env.LanguageTexts.SetText(Decode8Bit(*bytes));
    language.CodePage = 1252;
    env.Charset = 1;
  }

  language.SetTexts(env.LanguageTexts.Pairs());
  env.S.LoadKeywords();
  language.RefreshFormats();
}

void RebuildKeywordTable(EnvState& env) { env.S.LoadKeywords(); }

void SwitchLanguage(EnvState& env, std::u16string_view fileName) {
  env.LanguageName = std::u16string(fileName);
  LoadLanguage(env);
}

std::vector<std::u16string> FindLanguages(const std::u16string& languagesFolder) {
  std::vector<std::u16string> names;
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(Utf16ToUtf8(languagesFolder)), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entryError;
    if (!it->is_regular_file(entryError) || it->path().extension() != ".txt") continue;
    const std::u16string name = Utf8ToUtf16(it->path().stem().string());
    if (!name.empty()) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::u16string LanguageDisplayName(const EnvState& env, std::u16string_view name) {
  std::u16string display = env.LanguageTexts.RawValue(u"LANGUAGE." + std::u16string(name));
  return display.empty() ? std::u16string(name) : display;
}

std::u16string MainCaption(const EnvState& env, std::u16string_view versionText) {
  std::u16string project = env.Settings.RawValue(u"PROJECT");
  return project.empty() ? u"Zavta " + std::u16string(versionText) : project;
}

void LoadStartLanguage(EnvState& env) {
  env.LanguageName = env.Settings.GetValueOrKey(u"ENVIRONMENT");
  env.S.Language.CodePage = GetIntValue(env, env.Settings, u"CODEPAGE", 1252);
  LoadLanguage(env);
}
