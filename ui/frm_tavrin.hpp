#pragma once

#include <QWidget>
#include <string>

#include "engine/run_host.hpp"

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
class FrmTavrin : public QWidget, public RunHost {
 public:
  explicit FrmTavrin(QWidget* parent = nullptr);
  ~FrmTavrin() override;

  std::string GetSeparator() override;
  void SetSeparator(std::string_view text) override;
  std::string GetInputFileName() override;
  std::string GetOutputFileName() override;
  bool IsUnbuildChecked() override;
  std::chrono::steady_clock::duration statusInterval() override;
  void SetStatusText(std::string_view text) override;
  void RefreshStatus() override;
  void ShowMessage(std::string_view text) override;
  bool AskYesNo(std::string_view text) override;
  void ShowWarning(std::string_view text, std::string_view title) override;
  bool asksAPerson() override { return true; }
  bool keepGoing() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  void cmdInputFileClick();
  void cmdOutputFileClick();
  void cmdProcessClick();
  void showStatus();
  bool isInputDuringRun(QObject* watched, const QEvent* event) const;

  QLabel* Label1;
  QLineEdit* txtInputFileName;
  QPushButton* cmdInputFile;
  QLabel* Label2;
  QLineEdit* txtOutputFileName;
  QPushButton* cmdOutputFile;
  QLabel* Label3;
  QLineEdit* txtSeparator;
  QCheckBox* chkUnbuildMailTo;
  QPushButton* cmdProcess;
  QPushButton* cmdClose;
  QStatusBar* StatusBar1;
  QLabel* m_statusPanel;
  CommonDialog* CommonDialog1;

  // The run hands over a status text once a frame, and the latest before
  // each message box and at its end.
  std::string m_statusText;
  // The separator box's text, kept current as it changes: the run asks for it
  // before every line.
  std::string m_separator;
  bool m_running = false;
  bool m_closeRequested = false;  // during the run, which stops for it
};

}  // namespace tavrin
