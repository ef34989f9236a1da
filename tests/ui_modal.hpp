#pragma once

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>

namespace tavrin {

// Calls `handle` with the next modal widget that opens on top of the one open
// now, from inside the new widget's own event loop. Call it before the action
// that opens the widget. A handler that fails a check and leaves its widget
// open gets the widget closed, so that a failing test cannot hang.
inline void OnNextModal(std::function<void(QWidget*)> handle,
                        QPointer<QWidget> current = QApplication::activeModalWidget(), int triesLeft = 500) {
  QTimer::singleShot(10, [handle = std::move(handle), current, triesLeft] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == current) {
      if (triesLeft > 0)
        OnNextModal(handle, current, triesLeft - 1);
      else
        QTest::qFail("no modal widget opened", __FILE__, __LINE__);
      return;
    }
    const QPointer<QWidget> opened = modal;
    handle(modal);
    if (QTest::currentTestFailed() && opened && opened->isVisible()) opened->close();
  });
}

}  // namespace tavrin
