#pragma once
// What the output window and the message dialog make of a text, and the
// settings that decide how programs run and print. Qt-free: the windows and
// the headless runner share it.

#include <cstddef>
#include <string>

struct EnvState;

// The longest line shown whole unless MAXPRINT says otherwise.
constexpr int kDefaultMaxPrint = 4000;
// The message dialog shows at most this many characters of a message.
constexpr size_t kDialogMessageLength = 400;

// The text cut after maxPrint characters with "..." appended when longer
// (maxPrint > 0). Characters are code points: a surrogate pair is never
// split.
std::u16string CutLine(const std::u16string& text, int maxPrint);

// The message dialog's text: the message (its first 400 characters and
// "..." when longer), then " (" + extra + ")" when extra is not empty.
std::u16string DialogText(const std::u16string& message, const std::u16string& extra);

// The text with every line break (CR LF, a lone CR or a lone LF) made one LF.
std::u16string LfLineBreaks(const std::u16string& text);

// The settings a run depends on: name case sensitivity (CASESENSITIVE),
// dual-language keywords (DUALLANGUAGESUPPORT) and env.MaxPrint (MAXPRINT).
void ApplyRunSettings(EnvState& env);
