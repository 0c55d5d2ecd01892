#pragma once
// The main window's file and print prompts, behind one interface so that
// tests can answer them. The save prompt keeps the file-type filter the
// last caller chose; every use sets it back to the first entry afterwards.

#include <QFont>
#include <QString>
#include <QStringList>
#include <optional>

class QPrinter;
class QWidget;

// The save prompt's file-type entries, 1-based as callers select them.
enum SaveFilter : int {
  sfZavta = 1,
  sfText = 2,
  sfJpeg = 3,
  sfPng = 4,
  sfBitmap = 5,
  sfGif = 6,
  sfAll = 7,
};

// The filter text of an entry ("" outside 1 to 7); patterns in both cases.
QString SaveFilterText(int entry);

class Prompts {
public:
  virtual ~Prompts() = default;
  // The file to save to, asked with the given filter entry selected;
  // nothing when cancelled.
  virtual std::optional<QString> saveFileName(QWidget* parent, int filterEntry) = 0;
  // Sets the printer up; false when cancelled.
  virtual bool setUpPrinter(QWidget* parent, QPrinter& printer) = 0;
  // Existing files to open, asked in the folder ("" the last one); none
  // when cancelled.
  virtual QStringList openFileNames(QWidget*, const QString&) { return {}; }
  // The environment font; nothing when cancelled.
  virtual std::optional<QFont> chooseFont(QWidget*, const QFont&) { return std::nullopt; }
};

// The open prompt's filter.
QString OpenFilterText();

// The desktop's own dialogs.
class DialogPrompts : public Prompts {
public:
  std::optional<QString> saveFileName(QWidget* parent, int filterEntry) override;
  bool setUpPrinter(QWidget* parent, QPrinter& printer) override;
  QStringList openFileNames(QWidget* parent, const QString& folder) override;
  std::optional<QFont> chooseFont(QWidget* parent, const QFont& font) override;
};

// SaveDialog: the save prompt with the filter entry selected for this one
// use; the entry goes back to the first afterwards, whatever happened.
class SaveDialog {
public:
  explicit SaveDialog(Prompts& prompts) : prompts_(prompts) {}
  std::optional<QString> Execute(QWidget* parent, int filterEntry);
  int FilterEntry() const { return filterEntry_; }

private:
  Prompts& prompts_;
  int filterEntry_ = sfZavta;
};
