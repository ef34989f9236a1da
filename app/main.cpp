#include <QApplication>
#include <QByteArray>
#include <QString>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "engine/platform.hpp"
#include "ui/frm_tavrin.hpp"
#include "version.hpp"

namespace tavrin {
namespace {

// Without a display that answers (none at all, or one left from an old ssh -X
// session or sudo), Qt reports a fatal error and aborts; on a server or over
// SSH a plain answer serves better. What else Qt says while it starts is held
// back until it has started, so that the answer stands alone.
struct HeldMessage {
  QtMsgType type;
  QByteArray category;
  QString text;
};
QtMessageHandler qtHandler = nullptr;
bool started = false;
std::vector<HeldMessage> heldBack;

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (started) {
    qtHandler(type, context, text);
  } else if (type != QtFatalMsg) {
    heldBack.push_back({type, context.category, text});
  } else {
    std::cerr << "tavrin: no display found; the window needs a desktop session.\n"
                 "Without one, run it as 'xvfb-run tavrin', or use tavrin-cli for the same conversion on the "
                 "command line.\n";
    std::_Exit(2);
  }
}

void startedNow() {
  started = true;
  for (const HeldMessage& message : heldBack) {
    qtHandler(message.type, QMessageLogContext(nullptr, 0, nullptr, message.category.constData()),
              message.text);
  }
  heldBack.clear();
}

}  // namespace
}  // namespace tavrin

int main(int argc, char* argv[]) {
  tavrin::guardProcess();
  tavrin::qtHandler = qInstallMessageHandler(tavrin::handleMessage);
  QApplication app(argc, argv);
  tavrin::startedNow();
  QApplication::setApplicationName(QString::fromUtf8(tavrin::kProductName));
  QApplication::setApplicationVersion(QString::fromUtf8(tavrin::kVersionText));
  QApplication::setDesktopFileName(QStringLiteral("org.example.tavrin"));
  tavrin::FrmTavrin frmTavrin;
  frmTavrin.show();
  return app.exec();
}
