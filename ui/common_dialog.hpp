#pragma once

#include <QFileDialog>
#include <QString>

namespace tavrin {

// The window's one file dialog, shared by both Browse buttons and kept for
// the window's life. It keeps the last chosen path and proposes it in the next
// dialog, whichever button opens it; a cancelled dialog leaves it as it was.
class CommonDialog : public QFileDialog {
 public:
  explicit CommonDialog(QWidget* parent);

  // Show the open or the save dialog and wait until it closes. True when the
  // user chose a file; FileName then holds its full path.
  bool showOpen();
  bool showSave();

  const QString& fileName() const { return m_fileName; }

 protected:
  void done(int result) override;

 private:
  bool showFileDialog(AcceptMode mode);

  QString m_fileName;
};

}  // namespace tavrin
