#include <QApplication>
#include <QByteArray>
#include <QGuiApplication>
#include <QScreen>
#include <QString>
#include <QStringList>
#include <algorithm>
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

[[noreturn]] void noDisplay() {
  std::cerr << "tavrin: no display found; the window needs a desktop session.\n"
               "Without one, run it as 'xvfb-run tavrin', or use tavrin-cli for the same conversion on the "
               "command line.\n";
  std::_Exit(2);
}

// A platform plugin that was found and loaded speaks in a category of its
// own (qt.qpa.xcb, qt.qpa.wayland) when it cannot reach its display; Qt's
// search for plugins speaks in qt.qpa.plugin.
bool saysNoDisplay(const HeldMessage& message) {
  return message.category.startsWith("qt.qpa.") && message.category != "qt.qpa.plugin";
}

// Any other failure to start the window system (a platform that Qt does not
// have, a plugin that lacks a library) is said in Qt's own words.
[[noreturn]] void failedToStart(const QString& fatal) {
  if (std::any_of(heldBack.begin(), heldBack.end(), saysNoDisplay)) noDisplay();
  QStringList words;
  for (const HeldMessage& message : heldBack) words.append(message.text);
  words.append(fatal.trimmed());
  std::cerr << "tavrin: " << words.join(QLatin1Char('\n')).toStdString() << '\n';
  std::_Exit(2);
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (started) {
    qtHandler(type, context, text);
  } else if (type != QtFatalMsg) {
    heldBack.push_back({type, context.category, text});
  } else {
    failedToStart(text);
  }
}

// A window system without a screen (a framebuffer that is not there, a
// Wayland compositor without outputs) starts, but has nowhere to show the
// window.
void startedNow() {
  if (QGuiApplication::primaryScreen() == nullptr) noDisplay();
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
