#include "environment/OutputText.h"

#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/Settings.h"

namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The code units that the first count code points take; text.size() when
// the text has no more.
size_t UnitsOfCodePoints(const std::u16string& text, size_t count) {
  size_t units = 0;
  for (size_t points = 0; points < count && units < text.size(); ++points) {
    const bool pair = IsHighSurrogate(text[units]) && units + 1 < text.size() && IsLowSurrogate(text[units + 1]);
    units += pair ? 2 : 1;
  }
  return units;
}

std::u16string CutAfter(const std::u16string& text, size_t codePoints) {
  const size_t units = UnitsOfCodePoints(text, codePoints);
  if (units >= text.size()) return text;
  return text.substr(0, units) + u"...";
}

}  // namespace

std::u16string CutLine(const std::u16string& text, int maxPrint) {
  if (maxPrint <= 0) return text;
  return CutAfter(text, static_cast<size_t>(maxPrint));
}

std::u16string DialogText(const std::u16string& message, const std::u16string& extra) {
  std::u16string shown = CutAfter(message, kDialogMessageLength);
  if (!extra.empty()) shown += u" (" + extra + u")";
  return shown;
}

std::u16string LfLineBreaks(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\r') {
      out.push_back(text[i]);
      continue;
    }
    out.push_back(u'\n');
    if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
  }
  return out;
}

void ApplyRunSettings(EnvState& env) {
  env.S.Language.DualLanguageSupport = IsYesSwitchOn(env.Settings, u"DUALLANGUAGESUPPORT");
  env.S.CaseSensitive = IsNoSwitchOn(env.Settings, u"CASESENSITIVE");
  env.MaxPrint = GetIntValue(env, env.Settings, u"MAXPRINT", kDefaultMaxPrint);
}
