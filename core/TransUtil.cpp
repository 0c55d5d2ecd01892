// Small services of the interpreter module: the program log, reading text
// files, the file search, the keyboard buffer, OpenGL error lines, internal
// errors, the search for the variable that holds a GUI control and DUMP's
// listing of the variable tree.

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/Text.h"
#include "core/Trans.h"

namespace fs = std::filesystem;

// --- the program log ---------------------------------------------------------

TProgramLog::TProgramLog() {
  Clock = [] {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return TLogTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
  };
}

TProgramLog::~TProgramLog() { Close(); }

bool TProgramLog::Open(const std::u16string& fileName, uint32_t mask) {
  Close();
  LogMask = mask;
  const std::string path = Utf16ToUtf8(fileName);
  // "e": close-on-exec, so programs started by the shell primitive do not
  // inherit the open log.
  file_ = std::fopen(path.c_str(), (mask & loAppend) != 0 ? "abe" : "wbe");
  LogFileOpen = file_ != nullptr;
  return LogFileOpen;
}

void TProgramLog::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  LogFileOpen = false;
}

void TProgramLog::Write(std::string_view bytes) {
  if (file_ == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file_);
  std::fflush(file_);
}

namespace {

void AppendNumber(std::u16string& out, int value, bool twoDigits) {
  if (twoDigits && value >= 0 && value < 10) out.push_back(u'0');
  for (char c : std::to_string(value)) out.push_back(static_cast<char16_t>(c));
}

// Fills a date or time pattern: "yy" or "yyyy" the year, "mm" the month (the
// minutes right after an hour token), "dd" the day, "hh" the hour, "nn" the
// minutes, "ss" the seconds; one letter instead of two drops the leading
// zero. Every other character is copied.
std::u16string FormatLogTime(std::u16string_view pattern, const TLogTime& t) {
  std::u16string out;
  bool afterHour = false;
  size_t i = 0;
  while (i < pattern.size()) {
    const char16_t c = pattern[i];
    const char16_t lower = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
    size_t run = 1;
    while (i + run < pattern.size() && (pattern[i + run] == c)) ++run;
    const bool two = run >= 2;
    switch (lower) {
      case u'y':
        if (run >= 3)
          AppendNumber(out, t.Year, false);
        else
          AppendNumber(out, t.Year % 100, true);
        afterHour = false;
        break;
      case u'm':
        AppendNumber(out, afterHour ? t.Minute : t.Month, two);
        afterHour = false;
        break;
      case u'n':
        AppendNumber(out, t.Minute, two);
        afterHour = false;
        break;
      case u'd':
        AppendNumber(out, t.Day, two);
        afterHour = false;
        break;
      case u'h':
        AppendNumber(out, t.Hour, two);
        afterHour = true;
        break;
      case u's':
        AppendNumber(out, t.Second, two);
        afterHour = false;
        break;
      default:
        out.append(run, c);  // separators keep the "minutes after hours" link
        break;
    }
    i += run;
  }
  return out;
}

}  // namespace

void WriteLog(TStructure& s, uint32_t category, std::u16string_view line) {
  TProgramLog& log = s.Log;
  if (!log.LogFileOpen || (log.LogMask & category) == 0) return;
  const int codePage = s.Language.CodePage;
  if ((log.LogMask & (loDate | loTime)) != 0) {
    const TLogTime now = log.Clock ? log.Clock() : TLogTime{2000, 1, 1, 0, 0, 0};
    if ((log.LogMask & loDate) != 0) log.Write(Utf16ToCodePage(FormatLogTime(log.ShortDateFormat, now), codePage));
    if ((log.LogMask & loTime) != 0) log.Write(Utf16ToCodePage(FormatLogTime(log.LongTimeFormat, now), codePage));
  }
  std::string bytes = Utf16ToCodePage(line, codePage);
  bytes.push_back('\n');
  log.Write(bytes);
}

// --- files -------------------------------------------------------------------

bool FileExists(const std::u16string& path) {
  std::error_code ec;
  return fs::is_regular_file(fs::path(Utf16ToUtf8(path)), ec);
}

namespace {

// The stream's bytes to its end, read in blocks of the expected size (the
// file may grow meanwhile); false after a read error.
bool ReadAllBytes(std::ifstream& in, size_t expected, std::string& bytes) {
  const size_t block = std::max<size_t>(expected + 1, 4096);
  size_t filled = 0;
  for (;;) {
    bytes.resize(filled + block);
    const std::streamsize got = in.rdbuf()->sgetn(bytes.data() + filled, static_cast<std::streamsize>(block));
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
  }
  bytes.resize(filled);
  return !in.bad();
}

bool IsAscii(std::string_view text) {
  unsigned char high = 0;
  for (const char c : text) high |= static_cast<unsigned char>(c);
  return high < 0x80;
}

}  // namespace

std::u16string ReadTextFile(const TStructure& s, const std::u16string& fileName) {
  const fs::path path(Utf16ToUtf8(fileName));
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string bytes;
  const uintmax_t size = fs::file_size(path, ec);
  if (!ReadAllBytes(in, ec ? 0 : static_cast<size_t>(size), bytes)) return {};

  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
    std::u16string text;
    text.reserve((bytes.size() - 2) / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return text;
  }

  const std::string_view text = std::string_view(bytes).substr(0, bytes.find('\0'));
  if (!IsAscii(text) && IsValidUtf8(text)) {
    // Editors on this platform often start UTF-8 files with a byte-order
    // mark; it is not part of the text (it would glue onto the first word).
    constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
    return Utf8ToUtf16(text.substr(0, kUtf8Mark.size()) == kUtf8Mark ? text.substr(kUtf8Mark.size()) : text);
  }
  return CodePageToUtf16(text, s.Language.CodePage);
}

std::u16string LocateFile(const TStructure& s, std::u16string_view name) {
  std::u16string clean(name);
  for (char16_t& c : clean)
    if (c == u'\\') c = u'/';
  for (size_t i = clean.size(); i >= 2; --i)
    if (clean[i - 1] == u'/' && clean[i - 2] == u'/') clean.erase(i - 1, 1);

  const size_t slash = clean.rfind(u'/');
  const std::u16string bare = slash == std::u16string::npos ? clean : clean.substr(slash + 1);

  const std::u16string* folders[] = {&s.SettingsFolder, &s.UserFolder, &s.ProgramFolder, &s.RootFolder,
                                     &s.CharactersFolder};
  std::vector<std::u16string> candidates = {clean, bare, u"../" + clean, u"../" + bare};
  for (const std::u16string* folder : folders) {
    if (folder->empty()) continue;
    candidates.push_back(*folder + clean);
    candidates.push_back(*folder + bare);
  }

  for (const std::u16string& candidate : candidates) {
    if (!FileExists(candidate)) continue;
    std::error_code ec;
    fs::path full = fs::absolute(fs::path(Utf16ToUtf8(candidate)), ec);
    if (ec) return candidate;
    return Utf8ToUtf16(full.lexically_normal().string());
  }
  return clean;
}

// --- keyboard, diagnostics, internal errors ----------------------------------

void AppendKeyToBuffer(TStructure& s, char16_t ch) { s.KeyBuffer.push_back(ch); }

void PrintGLError(TStructure& s, const std::u16string& message) {
  // The begin-end nesting counter of the GL recorder; nothing ever moves it.
  constexpr long long kBeginEndCount = 0;
  PrintToOutput(s, message);
  PrintToOutput(s, FormatMessage(u"begin-end=%d", {kBeginEndCount}));
}

void RaiseInternalError(TStructure& s, std::u16string_view tag) {
  WriteErrorFile(s, 4, tag);
  s.CurrentPosition.Topic = u"internal-error";
  s.RaiseError(s.Language.Text(u"SYSTEMERROR") + u" " + std::u16string(tag), u"internal-error");
}

TAtom* FindVariableByControl(TStructure& s, const WrappedObject* control) {
  if (control == nullptr || !IsAtom(s.Root)) return nullptr;
  // Pre-order walk with an explicit stack: a variable, then its children
  // from the newest (FirstChild) to the oldest, each with its own subtree.
  std::vector<TAtom*> pending{s.Root};
  while (!pending.empty()) {
    TAtom* variable = pending.back();
    pending.pop_back();
    const TAtom* value = variable->Left;
    if (IsAtom(value) && value->Kind == akWinObject && value->Object() == static_cast<const void*>(control))
      return variable;
    if (variable != s.Root && variable->NextSibling != nullptr) pending.push_back(variable->NextSibling);
    if (variable->FirstChild != nullptr) pending.push_back(variable->FirstChild);
  }
  return nullptr;
}

// --- DUMP -------------------------------------------------------------------------

namespace {

// DUMP shows at most this many characters of a value.
constexpr size_t kDumpValueLength = 50;

}  // namespace

void PrintVariableTree(TInterpreter& in) {
  TStructure& s = in.S;
  if (!IsAtom(s.Root)) return;
  // Depth-first without recursion: a variable, then its children from the
  // newest to the oldest, each followed by its own subtree.
  struct Pending {
    TAtom* Variable;
    size_t Depth;
  };
  std::vector<Pending> pending{{s.Root, 0}};
  std::u16string line;
  while (!pending.empty()) {
    const Pending item = pending.back();
    pending.pop_back();
    TAtom* v = item.Variable;
    if (v != s.Root && v->NextSibling != nullptr) pending.push_back({v->NextSibling, item.Depth});
    if (v->FirstChild != nullptr) pending.push_back({v->FirstChild, item.Depth + 1});

    line.assign(item.Depth * 3, u' ');
    line += v->Text;
    line += u" = ";
    std::u16string value = TAtom::ToText(s, v->Left);
    if (value.size() > kDumpValueLength) {
      size_t cut = kDumpValueLength;
      // Never split a surrogate pair.
      if (value[cut - 1] >= 0xD800 && value[cut - 1] <= 0xDBFF) --cut;
      value.resize(cut);
    }
    line += value;
    PrintToOutput(s, line);
  }
}
