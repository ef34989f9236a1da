#include <QApplication>

#include "ui/frm_tavrin.hpp"
#include "version.hpp"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(tavrin::kProductName));
  QApplication::setApplicationVersion(QString::fromUtf8(tavrin::kVersionText));
  QApplication::setDesktopFileName(QStringLiteral("org.example.tavrin"));
  tavrin::FrmTavrin frmTavrin;
  frmTavrin.show();
  return app.exec();
}
