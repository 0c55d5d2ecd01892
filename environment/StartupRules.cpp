#include "environment/StartupRules.h"

#include <cstdio>
#include <fstream>
#include <string_view>

#include "core/Text.h"
#include "core/Trans.h"
#include "environment/EnvState.h"
#include "environment/MainInit.h"
#include "environment/Settings.h"

std::u16string GetMachineId(const std::string& machineIdFile) {
  constexpr size_t kDigits = 8;
  std::ifstream in(machineIdFile, std::ios::binary);
  char digits[kDigits];
  if (!in.read(digits, kDigits)) return {};
  unsigned long value = 0;
  for (const char c : digits) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return {};
    value = value * 16 + static_cast<unsigned long>(digit);
  }
  char text[16];
  std::snprintf(text, sizeof text, "%lX", value);
  return Utf8ToUtf16(text);
}

int TrustedPixelFormat(EnvState& env, const std::u16string& machineId) {
  if (machineId.empty() || env.Settings.RawValue(u"ZAVTAID") != machineId) {
    DebugLog(env, u"  Stored OpenGL mode cannot be trusted");
    return 0;
  }
  const int mode = GetIntValue(env, env.Settings, u"OPENGLMODE", SettingsDefaults::kOpenGLMode);
  DebugLog(env, u"  Entering OpenGL mode #" + Utf8ToUtf16(std::to_string(mode)));
  return mode;
}

bool HasZavExtension(const std::u16string& name) {
  return name.size() >= 4 && UpperCase(std::u16string_view(name).substr(name.size() - 4)) == u".ZAV";
}

std::u16string ForcedSourceFile(EnvState& env, const StartupInput& input) {
  if (input.CtrlHeld) return {};
  for (const std::u16string& argument : input.Arguments) {
    if (argument.empty() || argument.front() == u'!') continue;
    if (!HasZavExtension(argument)) continue;
    if (argument.front() != u'/' && FileExists(env.LaunchFolder + argument)) return env.LaunchFolder + argument;
    const std::u16string located = LocateFile(env.S, argument);
    return FileExists(located) ? located : std::u16string();
  }
  return {};
}
