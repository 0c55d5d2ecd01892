// The interpreter object and its statement cursor.

#include "core/Expr.h"
#include "core/Lexem.h"
#include "core/Trans.h"

TInterpreter::TInterpreter(TStructure& s)
    : S(s),
      ResultAtom(SystemValue),
      scanner_(std::make_unique<TScanner>(s)),
      compiler_(std::make_unique<TCompilerState>()) {}

Host& TInterpreter::host() const { return S.host(); }

TInterpreter::~TInterpreter() = default;

void TInterpreter::NextStatement() {
  if (IsAtom(CodePointer)) CodePointer = CodePointer->Right;
}

TAtom* TInterpreter::CurrentStatement() const { return IsAtom(CodePointer) ? CodePointer->Left : nullptr; }

int TInterpreter::StatementKind() const {
  if (!IsAtom(CodePointer)) return 0;
  const TAtom* element = CodePointer->Left;
  if (element == nullptr) return 4;
  if (element == SystemValue) return 5;
  if (TAtom::IsComma(element)) return 1;
  if (element->Kind == akNumber || element->Kind == akWord) return 2;
  if (element->Kind == akExpression) return 3;
  return 5;
}
