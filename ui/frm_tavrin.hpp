#pragma once

#include <QMessageBox>
#include <QWidget>
#include <functional>
#include <string>

#include "ui/window_host.hpp"

class QCheckBox;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace tavrin {

class CommonDialog;

// The program's one window. It holds the user's choices for a conversion,
// starts the run with Process and serves the run as its host.
class FrmTavrin : public QWidget, public WindowHost {
 public:
  explicit FrmTavrin(QWidget* parent = nullptr);
  ~FrmTavrin() override;

  void SetSeparator(std::string_view text) override;
  std::string GetInputFileName() override;
  std::string GetOutputFileName() override;
  bool IsUnbuildChecked() override;

  // How a message box is shown and answered: by its exec(), unless a test
  // puts itself in its place. It gets the real box, ready to be shown.
  using ShowModal = std::function<int(QMessageBox& box)>;
  void setShowModal(ShowModal showModal);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  void setFocusOrder();
  void cmdInputFileClick();
  void cmdOutputFileClick();
  void takeDroppedFile(QLineEdit* textBox, QDropEvent* event);
  void takeChosenFile(QLineEdit* textBox);
  void showPanel(std::string_view text) override;
  bool showBox(Box box, std::string_view title, std::string_view text) override;
  int showMessageBox(QMessageBox::Icon icon, std::string_view title, std::string_view text,
                     QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);
  void handlePendingEvents() override;
  void dropInput(bool drop) override;
  void closeNow() override;
  bool isInputDuringRun(QObject* watched, const QEvent* event) const;
  bool isCloseOfRunsBox(const QObject* watched, const QEvent* event) const;

  QLineEdit* txtInputFileName;
  QPushButton* cmdInputFile;
  QLineEdit* txtOutputFileName;
  QPushButton* cmdOutputFile;
  QLineEdit* txtSeparator;
  QCheckBox* chkUnbuildMailTo;
  QPushButton* cmdProcess;
  QPushButton* cmdClose;
  QStatusBar* StatusBar1;
  QLabel* m_statusPanel;
  CommonDialog* CommonDialog1;
  ShowModal m_showModal;
};

}  // namespace tavrin
