#include "tests/support/TestState.h"

#include "core/Text.h"

void UseEnglishKeywords(TStructure& s) {
  std::vector<std::pair<std::u16string, std::u16string>> pairs;
  for (std::u16string_view key : KeywordKeys) pairs.emplace_back(UpperCase(key), std::u16string(key));
  s.Language.SetTexts(pairs);
  s.LoadKeywords();
}

TestState::TestState(bool withRoot) : S(std::make_unique<TStructure>(Host)) {
  UseEnglishKeywords(*S);
  if (withRoot) S->EnterFrame(NewVariable(*S, u"[Root]", nullptr));
  ArmErrors(true);
}

TestState::~TestState() = default;

void TestState::ArmErrors(bool armed) {
  S->CurrentPosition.Line = armed ? 1 : -1;
  S->CurrentPosition.StartPos = armed ? 1 : -1;
  S->CurrentPosition.EndPos = armed ? 2 : -1;
}

std::string U8(const std::u16string& text) { return Utf16ToUtf8(text); }

TAtom* ListOf(TStructure& s, std::initializer_list<TAtom*> items) {
  TAtom *head = nullptr, *tail = nullptr;
  for (TAtom* item : items) AppendToList(s, item, head, tail);
  return head;
}
