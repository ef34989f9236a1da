#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "ui/frm_tavrin.hpp"

// Runs one conversion through the window as a user would: fills the file
// names, ticks the box for -u and clicks Process. Prints the seconds from the
// click to the run's end. Exit status 1 when the run showed a message box,
// which a clean benchmark input never causes; 2 for a usage error.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments().mid(1);
  const bool unbuild = args.size() == 3 && args[0] == "-u";
  if (args.size() != (unbuild ? 3 : 2)) {
    std::fputs("Usage: bench_window [-u] INPUT OUTPUT\n", stderr);
    return 2;
  }

  tavrin::FrmTavrin window;
  window.show();
  window.findChild<QLineEdit*>("txtInputFileName")->setText(args[args.size() - 2]);
  window.findChild<QLineEdit*>("txtOutputFileName")->setText(args[args.size() - 1]);
  window.findChild<QCheckBox*>("chkUnbuildMailTo")->setChecked(unbuild);
  auto* cmdProcess = window.findChild<QPushButton*>("cmdProcess");

  // The run holds the thread; a box it shows runs its own event loop, where
  // this timer answers it so the benchmark cannot hang.
  bool boxShown = false;
  QTimer boxAnswerer;
  QObject::connect(&boxAnswerer, &QTimer::timeout, [&boxShown] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      std::fprintf(stderr, "bench_window: the run showed: %s\n", qPrintable(box->text()));
      boxShown = true;
      box->done(box->defaultButton() ? QMessageBox::Yes : QMessageBox::Ok);
    }
  });
  boxAnswerer.start(50);

  const auto start = std::chrono::steady_clock::now();
  QTest::mouseClick(cmdProcess, Qt::LeftButton);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%.6f\n", elapsed.count());
  return boxShown ? 1 : 0;
}
