#include "environment/Prompts.h"

#include <QFileDialog>
#include <QFontDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QStringList>

namespace {

const char* const kFilters[] = {
    "Zavta files (*.zav *.ZAV)",
    "Text files (*.txt *.TXT)",
    "JPEG (*.jpg *.jpeg *.JPG *.JPEG)",
    "PNG (*.png *.PNG)",
    "Bitmap (*.bmp *.BMP)",
    "GIF (*.gif *.GIF)",
    "All files (*)",
};

}  // namespace

QString SaveFilterText(int entry) {
  if (entry < 1 || entry > static_cast<int>(std::size(kFilters))) return {};
  return QString::fromLatin1(kFilters[entry - 1]);
}

std::optional<QString> DialogPrompts::saveFileName(QWidget* parent, int filterEntry) {
  QStringList filters;
  for (const char* filter : kFilters) filters << QString::fromLatin1(filter);
  QString selected = SaveFilterText(filterEntry);
  const QString name = QFileDialog::getSaveFileName(parent, QString(), QString(), filters.join(u";;"), &selected);
  if (name.isEmpty()) return std::nullopt;
  return name;
}

bool DialogPrompts::setUpPrinter(QWidget* parent, QPrinter& printer) {
  QPrintDialog dialog(&printer, parent);
  return dialog.exec() == QDialog::Accepted;
}

QString OpenFilterText() {
  return QStringLiteral("Zavta files (*.zav *.ZAV);;Text files (*.txt *.TXT);;All files (*)");
}

QStringList DialogPrompts::openFileNames(QWidget* parent, const QString& folder) {
  return QFileDialog::getOpenFileNames(parent, QString(), folder, OpenFilterText());
}

std::optional<QFont> DialogPrompts::chooseFont(QWidget* parent, const QFont& font) {
  bool accepted = false;
  const QFont chosen = QFontDialog::getFont(&accepted, font, parent);
  if (!accepted) return std::nullopt;
  return chosen;
}

std::optional<QString> SaveDialog::Execute(QWidget* parent, int filterEntry) {
  filterEntry_ = filterEntry;
  std::optional<QString> name = prompts_.saveFileName(parent, filterEntry);
  filterEntry_ = sfZavta;
  return name;
}
