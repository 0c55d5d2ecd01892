#pragma once
// The source editors' colouring: each block is scanned by the
// highlighter's own silent scanner (it never raises, prints or touches the
// interpreter's positions) as a line after a line break, the brace-comment
// depth open at a block's end kept as its state, so that typing "{"
// recolours the lines below. The error range and the paused statement are
// overlays on cursor-tracked ranges: they follow edits and never touch the
// text, its undo history or its modified flag.

#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <QTextCursor>

#include "core/Lexem.h"

struct EnvState;

class SyntaxHighlighter : public QSyntaxHighlighter {
  Q_OBJECT
public:
  SyntaxHighlighter(QTextDocument* document, EnvState& env);

  // The environment font's weight: keywords take the other one.
  void setFontBold(bool bold) { fontBold_ = bold; }
  // Editor positions; an empty range removes the overlay.
  void setErrorRange(int start, int end);
  void setPausedRange(int start, int end);
  bool hasErrorRange() const { return error_.hasSelection(); }

protected:
  void highlightBlock(const QString& text) override;

private:
  QTextCharFormat ColourFormat(int colour, bool bold) const;
  void Overlay(const QTextCursor& range, const QTextCharFormat& overlay);
  void SetRange(QTextCursor& range, int start, int end);

  EnvState& env_;
  TScanner scanner_;
  bool fontBold_ = false;
  QTextCursor error_;   // red, bold and italic until cleared
  QTextCursor paused_;  // red and underlined while the run stands there
};
