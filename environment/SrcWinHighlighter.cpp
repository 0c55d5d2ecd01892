#include "environment/SrcWinHighlighter.h"

#include <QTextBlock>
#include <QTextDocument>

#include "core/Vars.h"
#include "environment/EnvState.h"
#include "environment/SrcWinSyntax.h"

namespace {

QColor ToQColor(RgbColour colour) { return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF); }

}  // namespace

SyntaxHighlighter::SyntaxHighlighter(QTextDocument* document, EnvState& env)
    : QSyntaxHighlighter(document), env_(env), scanner_(env.S, TScannerOptions{false, false}) {}

QTextCharFormat SyntaxHighlighter::ColourFormat(int colour, bool bold) const {
  QTextCharFormat format;
  format.setForeground(ToQColor(env_.SyntaxColors[static_cast<size_t>(colour)]));
  format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
  return format;
}

void SyntaxHighlighter::highlightBlock(const QString& text) {
  const std::u16string line = text.toStdU16String();
  const int openBefore = std::max(previousBlockState(), 0);
  scanner_.SetText(SharedText(line));
  scanner_.ScanSource(false, TScanEntry{openBefore, currentBlock().blockNumber() > 0});
  setCurrentBlockState(scanner_.EndBraceDepth());

  setFormat(0, static_cast<int>(text.size()), ColourFormat(scText, fontBold_));
  SyntaxContext context{&env_.S.Language.KeywordTableUpper, env_.IsHelpReservedWord, fontBold_};
  for (const SyntaxSpan& span : ClassifySpans(line, scanner_.Tokens, context))
    setFormat(span.Start, span.Length, ColourFormat(span.Colour, span.Bold));
  scanner_.ClearTokens();

  QTextCharFormat errorFormat;
  errorFormat.setForeground(QColor(255, 0, 0));
  errorFormat.setFontWeight(QFont::Bold);
  errorFormat.setFontItalic(true);
  Overlay(error_, errorFormat);
  QTextCharFormat pausedFormat;
  pausedFormat.setForeground(QColor(255, 0, 0));
  pausedFormat.setFontUnderline(true);
  Overlay(paused_, pausedFormat);
}

void SyntaxHighlighter::Overlay(const QTextCursor& range, const QTextCharFormat& overlay) {
  if (!range.hasSelection()) return;
  const QTextBlock block = currentBlock();
  const int from = std::max(range.selectionStart(), block.position()) - block.position();
  const int to = std::min(range.selectionEnd(), block.position() + block.length() - 1) - block.position();
  for (int i = from; i < to; ++i) {
    QTextCharFormat merged = format(i);
    merged.merge(overlay);
    setFormat(i, 1, merged);
  }
}

void SyntaxHighlighter::SetRange(QTextCursor& range, int start, int end) {
  const QTextCursor old = range;
  if (start < end && document() != nullptr) {
    const int last = document()->characterCount() - 1;
    range = QTextCursor(document());
    range.setPosition(std::clamp(start, 0, last));
    range.setPosition(std::clamp(end, 0, last), QTextCursor::KeepAnchor);
  } else {
    range = QTextCursor();
  }
  // Only the blocks of the old and the new range change.
  for (const QTextCursor& changed : {old, range}) {
    if (!changed.hasSelection() || document() == nullptr) continue;
    for (QTextBlock b = document()->findBlock(changed.selectionStart());
         b.isValid() && b.position() <= changed.selectionEnd(); b = b.next())
      rehighlightBlock(b);
  }
}

void SyntaxHighlighter::setErrorRange(int start, int end) { SetRange(error_, start, end); }
void SyntaxHighlighter::setPausedRange(int start, int end) { SetRange(paused_, start, end); }
