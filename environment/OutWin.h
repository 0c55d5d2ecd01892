#pragma once
// The output window: every printed line, echo, error report and notice.
// Lines are appended with a colour and a bold switch; the window keeps at
// most about 500 lines, saves and prints its text and passes typed keys to
// the interpreter's keyboard buffer.

#include <QPlainTextEdit>
#include <cstdint>
#include <string>

#include "environment/ZAVForm.h"

class TOutput : public TZavtaForm {
  Q_OBJECT
public:
  // Appending to more than this many lines first deletes the oldest ...
  static constexpr int kMaxLines = 500;
  // ... this many of them.
  static constexpr int kDroppedLines = 300;

  explicit TOutput(TMainForm& main);

  // colour: Windows RGB 0x00BBGGRR.
  void PrintLine(const std::u16string& text, uint32_t colour, bool bold);
  void applySettings() override;
  // Asks for a file (text-file filter) and writes the text; a failure shows
  // the message dialog.
  void SaveToFile();
  void PrintOutput();
  void UpdateEditCommands();

  QPlainTextEdit* editor() const { return edit_; }
  // Lines the editor holds; an empty editor holds none.
  int LineCount() const;
  // The text with LF line ends.
  QString Text() const { return edit_->toPlainText(); }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void DropOldestLines(int count);
  void KeepEndInView();

  QPlainTextEdit* edit_;
};

// A Windows RGB value (0x00BBGGRR) as a Qt colour.
QColor ColourFromRgb(uint32_t rgb);
