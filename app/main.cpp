#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <string_view>

#include "engine/platform.hpp"
#include "ui/frm_tavrin.hpp"
#include "version.hpp"

namespace tavrin {
namespace {

// Without a display Qt aborts with a message about platform plugins; on a
// server or over SSH a plain answer serves better. A platform that the user
// names with -platform or QT_QPA_PLATFORM may need no display, so it is left
// to Qt.
bool hasDisplayOrPlatform(int argc, char* argv[]) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "-platform" || argument == "--platform") return true;
  }
  return false;
}

}  // namespace
}  // namespace tavrin

int main(int argc, char* argv[]) {
  tavrin::guardProcess();
  if (!tavrin::hasDisplayOrPlatform(argc, argv)) {
    std::cerr << "tavrin: no display found; the window needs a desktop session.\n"
                 "Without one, run it as 'xvfb-run tavrin', or use tavrin-cli for the same conversion on the "
                 "command line.\n";
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(tavrin::kProductName));
  QApplication::setApplicationVersion(QString::fromUtf8(tavrin::kVersionText));
  QApplication::setDesktopFileName(QStringLiteral("org.example.tavrin"));
  tavrin::FrmTavrin frmTavrin;
  frmTavrin.show();
  return app.exec();
}
