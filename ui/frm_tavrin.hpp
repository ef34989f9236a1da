#pragma once

#include <QWidget>
#include <string>

#include "engine/progress_pacer.hpp"
#include "engine/run_host.hpp"

class QCheckBox;
class QCloseEvent;
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
  void SetStatusText(std::string_view text) override;
  void RefreshStatus() override;
  void ShowMessage(std::string_view text) override;
  bool AskYesNo(std::string_view text) override;
  void ShowWarning(std::string_view text, std::string_view title) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void cmdInputFileClick();
  void cmdOutputFileClick();
  void cmdProcessClick();
  void showStatus();

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

  // The run sets the status text for every token; it is kept as it comes and
  // put on the panel only when the pacer says a frame has passed.
  std::string m_statusText;
  ProgressPacer m_statusPacer;
  bool m_running = false;
};

}  // namespace tavrin
