#pragma once

#include <QWidget>
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
  void showPanel(std::string_view text) override;
  bool showBox(Box box, std::string_view title, std::string_view text) override;
  void handlePendingEvents() override;
  void dropInput(bool drop) override;
  void closeNow() override;
  bool isInputDuringRun(QObject* watched, const QEvent* event) const;

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
};

}  // namespace tavrin
