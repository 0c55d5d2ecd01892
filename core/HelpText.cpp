// Help-text services: whole-word replacement (LOGOREPLACE), the escaping of
// texts placed into the XML help pages, the small parameter files the help
// pages read, the UTF-16 file writer and the one-line diagnostic print.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "core/Host.h"
#include "core/Text.h"
#include "core/Trans.h"

namespace {

// The word delimiters of ReplaceWholeWord. Letters never delimit; besides the
// ASCII set, the two angle quotes of the code page (bytes 139 and 155) do.
bool IsWordDelimiter(char16_t ch, int codePage) {
  switch (ch) {
    case u'\t':
    case u'\n':
    case u'\r':
    case u' ':
    case u'"':
    case u'#':
    case u'\'':
    case u'(':
    case u')':
    case u'.':
    case u':':
    case u'?':
    case u'[':
    case u']':
    case u'_':
      return true;
    default:
      break;
  }
  if (ch >= u'0' && ch <= u'9') return true;
  if (ch < 0x80) return false;
  uint8_t byte = 0;
  return CharToCodePage(ch, codePage, byte) && (byte == 139 || byte == 155);
}

// Replaces occurrences from left to right, continuing after each inserted
// text, so a replacement that contains the search text is never searched
// again.
void ReplaceForward(std::u16string& text, std::u16string_view search, std::u16string_view replacement) {
  size_t from = 0;
  for (;;) {
    const size_t at = text.find(search, from);
    if (at == std::u16string::npos) break;
    text.replace(at, search.size(), replacement);
    from = at + replacement.size();
  }
}

void Pad(std::u16string& text) {
  if (text.empty())
    text = u"&#32;&#32;";
  else if (text.size() == 1)
    text.push_back(u' ');
}

// The text of a word or number as ReplaceWord sees it, with the replacement
// applied. Kept out of ReplaceWord so the recursive frame stays small.
[[gnu::noinline]] TAtom* ReplaceInWordAtom(TStructure& s, TAtom* atom, std::u16string_view word,
                                           std::u16string_view replacement) {
  std::u16string text = atom->Kind == akNumber ? TAtom::ToText(s, atom) : atom->Text;
  ReplaceWholeWord(s, text, word, replacement, false);
  return NewWord(s, std::move(text));
}

}  // namespace

void ReplaceWholeWord(TStructure& s, std::u16string& text, std::u16string_view word, std::u16string_view replacement,
                      bool normalise) {
  if (word.empty() || word == replacement) return;

  const std::u16string key = s.NormalizeName(word);
  // Normalisation maps one character to one character, so offsets into the
  // normalised text are offsets into the text itself.
  std::u16string normalised = s.NormalizeName(text);
  if (normalised.size() != text.size()) normalised = text;
  if (key.empty()) return;
  const std::u16string inserted = normalise ? s.NormalizeName(replacement) : std::u16string(replacement);
  const int codePage = s.Language.CodePage;

  std::u16string result;
  size_t rest = 0;  // start of the part not yet moved to the result
  for (;;) {
    const size_t at = normalised.find(key, rest);
    if (at == std::u16string::npos) break;
    const size_t end = at + key.size();
    const bool startsWord = at == rest || IsWordDelimiter(text[at - 1], codePage);
    const bool endsWord = end == text.size() || IsWordDelimiter(text[end], codePage);
    if (startsWord && endsWord) {
      result.append(text, rest, at - rest);
      result += inserted;
      rest = end;
    } else {
      // Not a whole word: skip the rest of the word this occurrence sits in.
      size_t next = end;
      while (next < text.size() && !IsWordDelimiter(text[next], codePage)) ++next;
      result.append(text, rest, next - rest);
      rest = next;
    }
  }
  result.append(text, rest, std::u16string::npos);
  text = std::move(result);
}

TAtom* ReplaceWord(TStructure& s, TAtom* atom, std::u16string_view word, std::u16string_view replacement) {
  if (!IsAtom(atom)) return atom;
  switch (atom->Kind) {
    case akWord:
    case akNumber:
      return ReplaceInWordAtom(s, atom, word, replacement);
    case akList:
    case akExpression: {
      DepthGuard guard(s);
      if (guard.TooDeep()) {
        s.RaiseTooDeep();
        return atom;
      }
      // The cells of one level are walked iteratively; only nesting recurses.
      TAtom* head = nullptr;
      TAtom* tail = nullptr;
      std::optional<PinnedAtom> pin;  // the new list, while it is being built
      TAtom* cell = atom;
      for (; IsAtom(cell) && (cell->Kind == akList || cell->Kind == akExpression); cell = cell->Right) {
        TAtom* element = ReplaceWord(s, cell->Left, word, replacement);
        TAtom* copy =
            cell->Kind == akExpression ? NewExpressionCell(s, element, nullptr) : NewListCell(s, element, nullptr);
        if (head == nullptr) {
          head = copy;
          pin.emplace(head);
        } else {
          tail->Right = copy;
        }
        tail = copy;
      }
      // A chain that ends in something other than a cell keeps that end.
      if (cell != nullptr) tail->Right = cell;
      return head;
    }
    default:
      return atom;
  }
}

void ReplaceAll(std::u16string& text, std::u16string_view search, std::u16string_view replacement, bool pad) {
  if (!search.empty()) {
    if (replacement.find(search) != std::u16string_view::npos) {
      // Searching from the start again would find the inserted text forever.
      ReplaceForward(text, search, replacement);
    } else {
      // After each replacement the search starts again from the beginning.
      // The text before the replaced occurrence held no occurrence, so a new
      // one can only start where it overlaps the inserted text: resuming
      // there gives the same result without rescanning.
      size_t from = 0;
      for (;;) {
        const size_t at = text.find(search, from);
        if (at == std::u16string::npos) break;
        text.replace(at, search.size(), replacement);
        from = at >= search.size() - 1 ? at - (search.size() - 1) : 0;
      }
    }
  }
  if (pad) Pad(text);
}

std::u16string EscapeXml(const TStructure& s, std::u16string_view text, bool pad) {
  std::u16string out(text);
  if (out == u"\r\n") out = u" ";
  if (pad) Pad(out);
  ReplaceAll(out, u"\"", u"&#34;", pad);
  ReplaceAll(out, u"<", u"&#60;", pad);
  ReplaceAll(out, u">", u"&#62;", pad);
  ReplaceAll(out, u"&#60;@", u"<", pad);  // "<@" written in the text stays a tag opener
  ReplaceAll(out, u"&#62;@", u">", pad);
  const char16_t copyright = CodePageToChar(169, s.Language.CodePage);
  ReplaceAll(out, std::u16string_view(&copyright, 1), u"(C)", pad);
  // Protect the character references made so far and those in the text,
  // escape every remaining ampersand once, then restore the references.
  ReplaceAll(out, u"&#", u"@#@", pad);
  ReplaceForward(out, u"&", u"&#38;");
  if (pad) Pad(out);
  ReplaceAll(out, u"@#@", u"&#", pad);
  return out;
}

bool HelpFolderReady(TStructure& s) {
  if (s.HelpFolder.empty()) s.HelpFolder = s.host().makeHelpFolder();
  return !s.HelpFolder.empty();
}

void WriteHelpSnippet(TStructure& s, std::u16string_view fileName, std::u16string_view text) {
  // Without a help folder (a state not set up by the environment) there is
  // nowhere to put the snippet; the current folder is never a fallback.
  if (!HelpFolderReady(s)) return;
  WriteUnicodeFile(s.HelpFolder + std::u16string(fileName), EscapeXml(s, text, true));
}

std::string UnicodeFileBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(2 + text.size() * 2);
  bytes.push_back(static_cast<char>(0xFF));
  bytes.push_back(static_cast<char>(0xFE));
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

void WriteUnicodeFile(const std::u16string& fileName, std::u16string_view text) {
  const std::string bytes = UnicodeFileBytes(text);
  const std::string path = Utf16ToUtf8(fileName);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw FileError("cannot create file " + path);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) throw FileError("cannot write file " + path);
}

void PrintToOutput(TStructure& s, const std::u16string& text) { s.host().printLine(text, 0, false); }

void WriteErrorFile(TStructure& s, int number, std::u16string_view text) {
  if (number < 1 || number > 31) return;
  std::u16string name = u"$$$error-00$$$.txt";
  name[9] = static_cast<char16_t>(u'0' + number / 10);
  name[10] = static_cast<char16_t>(u'0' + number % 10);
  try {
    WriteHelpSnippet(s, name, text);
  } catch (const FileError&) {
    // The help page loses a detail; the error itself is still raised.
  }
}
