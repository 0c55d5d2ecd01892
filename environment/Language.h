#pragma once
// The language file: loading it into the language texts and the core
// (keywords, Boolean atoms, message formats, code page), switching the
// language, and the Qt-free parts of translating the main window.
//
// A language file is LanguagesFolder + name + ".txt", Name=Value lines,
// either UTF-16LE starting with the byte-order mark FF FE, or 8-bit text
// (UTF-8 when it is valid UTF-8, else Windows-1252).

#include <array>
#include <string>
#include <string_view>
#include <vector>

struct EnvState;

// Loads the file of env.LanguageName (falling back to "English") into
// env.LanguageTexts and the core: code page, character set, keyword tables,
// Boolean atoms and message formats; the process's numeric locale becomes
// "C". When neither file can be read, everything loaded before stays.
void LoadLanguage(EnvState& env);

// Rebuilds both keyword tables (and the Boolean atoms) from the current
// texts, under the case rule now in force.
void RebuildKeywordTable(EnvState& env);

// The language menu's click: fileName is the language file's name without
// ".txt".
void SwitchLanguage(EnvState& env, std::u16string_view fileName);

// The languages in the folder: each "*.txt" file's name without the
// extension, sorted; file names keep their letter case.
std::vector<std::u16string> FindLanguages(const std::u16string& languagesFolder);

// What the language menu shows for a language: the current texts' raw
// "LANGUAGE." + name, else the name itself.
std::u16string LanguageDisplayName(const EnvState& env, std::u16string_view name);

// The main window's caption: the raw PROJECT setting, else "Zavta " + version.
std::u16string MainCaption(const EnvState& env, std::u16string_view versionText);

// One main-menu item and the language key of its caption.
struct MenuCaptionKey {
  const char16_t* Item;
  const char16_t* Key;
};
extern const std::array<MenuCaptionKey, 41> kMenuCaptionKeys;

// Start-up: the language named by the ENVIRONMENT setting, with the CODEPAGE
// setting as the code page until the file says otherwise.
void LoadStartLanguage(EnvState& env);
