#pragma once

#include <QApplication>
#include <QObject>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

namespace tavrin {

inline void pollForModal(QObject* watch, std::function<void(QWidget*)> handle, QPointer<QWidget> current,
                         int triesLeft) {
  QTimer::singleShot(10, watch, [watch, handle = std::move(handle), current, triesLeft] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == current) {
      if (triesLeft > 0)
        pollForModal(watch, handle, current, triesLeft - 1);
      else
        QTest::qFail("no modal widget opened", __FILE__, __LINE__);
      return;
    }
    const QPointer<QWidget> opened = modal;
    handle(modal);
    if (QTest::currentTestFailed() && opened && opened->isVisible()) opened->close();
  });
}

// Calls `handle` with the next modal widget that opens on top of the one open
// now, from inside the new widget's own event loop. Call it before the action
// that opens the widget, and keep what it returns until that action is over:
// the watch ends with it, so a widget that never opened leaves nothing behind
// to fire in a later test. A handler that fails a check and leaves its widget
// open gets the widget closed, so that a failing test cannot hang.
[[nodiscard]] inline std::unique_ptr<QObject> onNextModal(std::function<void(QWidget*)> handle) {
  auto watch = std::make_unique<QObject>();
  pollForModal(watch.get(), std::move(handle), QApplication::activeModalWidget(), 500);
  return watch;
}

}  // namespace tavrin
