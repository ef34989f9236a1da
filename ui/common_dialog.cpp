#include "ui/common_dialog.hpp"

#include <QAbstractItemView>
#include <QCompleter>
#include <QCoreApplication>
#include <QLineEdit>

namespace tavrin {

namespace {

// Qt takes the patterns from the last parenthesised part of a filter and
// splits them at blanks, so "(*.txt;*.csv)" alone would be one pattern that
// no name matches. The hidden second part holds the patterns, and
// HideNameFilterDetails shows only what stands before it.
const QString kTextFilesFilter = QStringLiteral("Text files (*.txt;*.csv) (*.txt *.csv)");

}  // namespace

CommonDialog::CommonDialog(QWidget* parent) : QFileDialog(parent) {
  setObjectName(QStringLiteral("CommonDialog1"));
  // Qt's own dialog on every desktop: the name filter above relies on it.
  setOption(DontUseNativeDialog);
  setOption(HideNameFilterDetails);
}

bool CommonDialog::showOpen() {
  return showFileDialog(AcceptOpen);
}

bool CommonDialog::showSave() {
  return showFileDialog(AcceptSave);
}

bool CommonDialog::showFileDialog(AcceptMode mode) {
  setAcceptMode(mode);
  setDirectory(QCoreApplication::applicationDirPath());
  setNameFilter(kTextFilesFilter);
  if (m_fileName.isEmpty()) {
    // selectFile ignores an empty name and would leave what was typed before
    // a cancel; nothing has been chosen yet, so nothing is proposed.
    if (auto* fileNameBox = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) fileNameBox->clear();
  } else {
    selectFile(m_fileName);
  }
  if (exec() != Accepted) return false;
  m_fileName = selectedFiles().value(0);
  return true;
}

void CommonDialog::done(int result) {
  // A path typed into the file name box opens its completion list, and Enter
  // closes the dialog from inside that list. Left open, the list would stay on
  // the screen without its dialog and take the next click meant for the window.
  if (auto* fileNameBox = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
    if (QCompleter* completer = fileNameBox->completer()) completer->popup()->hide();
  QFileDialog::done(result);
}

}  // namespace tavrin
