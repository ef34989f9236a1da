#include <fcntl.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include "tests/ui_modal.hpp"
#include "ui/frm_tavrin.hpp"

namespace tavrin {

namespace {

template <typename T>
T* control(const QWidget& parent, const char* name) {
  auto* control = parent.findChild<T*>(QLatin1String(name));
  if (control == nullptr) qFatal("no control %s", name);
  return control;
}

QLineEdit* fileNameEdit(QFileDialog* dialog) {
  return control<QLineEdit>(*dialog, "fileNameEdit");
}

// Types into the dialog's file name box as a user would: through the dialog's
// window, which hands the keys to the box's completion list while that is
// open. The list opens and follows what is typed.
void typeFileName(QFileDialog* dialog, const QString& name) {
  QWindow* window = dialog->windowHandle();
  QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(window, Qt::Key_Delete);
  for (const QChar character : name) QTest::keyClick(window, character.toLatin1());
}

QPushButton* dialogButton(QFileDialog* dialog, QDialogButtonBox::ButtonRole role) {
  for (QAbstractButton* button : control<QDialogButtonBox>(*dialog, "buttonBox")->buttons()) {
    auto* box = control<QDialogButtonBox>(*dialog, "buttonBox");
    if (box->buttonRole(button) == role) return qobject_cast<QPushButton*>(button);
  }
  qFatal("no button");
}

// Enter, as a user ends typing a name.
void accept(QFileDialog* dialog) {
  QTest::keyClick(dialog->windowHandle(), Qt::Key_Return);
}

void cancel(QFileDialog* dialog) {
  QTest::mouseClick(dialogButton(dialog, QDialogButtonBox::RejectRole), Qt::LeftButton);
}

QStringList listed(QFileDialog* dialog) {
  auto* view = control<QListView>(*dialog, "listView");
  QStringList names;
  for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
    names.append(view->model()->index(row, 0, view->rootIndex()).data().toString());
  names.sort();
  return names;
}

QString canonical(const QString& path) {
  return QDir(path).canonicalPath();
}

void write(const QString& path, const QByteArray& content) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(content);
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void dialogSettings_data();
  void dialogSettings();
  void filterListsTextFiles_data();
  void filterListsTextFiles();
  void cancelChangesNothing_data();
  void cancelChangesNothing();
  void choiceFillsItsBox_data();
  void choiceFillsItsBox();
  void chosenNameProposedByBothButtons_data();
  void chosenNameProposedByBothButtons();
  void overwritePrompt_data();
  void overwritePrompt();
  void openAcceptsMissingFile();
  void choiceNotTextIsRefused_data();
  void choiceNotTextIsRefused();

 private:
  // Clicks the button and lets `step` work the dialog that it opens.
  void browse(const char* button, const std::function<void(QFileDialog*)>& step);

  std::unique_ptr<QTemporaryDir> m_dir;
  std::unique_ptr<FrmTavrin> m_window;
  QString m_workingFolder;
};

void DialogsTest::init() {
  m_dir = std::make_unique<QTemporaryDir>();
  QVERIFY(m_dir->isValid());
  m_window = std::make_unique<FrmTavrin>();
  m_window->show();
  QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
  m_workingFolder = QDir::currentPath();
}

void DialogsTest::cleanup() {
  m_window.reset();
  QDir::setCurrent(m_workingFolder);
}

void DialogsTest::browse(const char* button, const std::function<void(QFileDialog*)>& step) {
  int dialogs = 0;
  const auto watch = onNextModal([&](QWidget* modal) {
    ++dialogs;
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    QVERIFY(dialog != nullptr);
    QCOMPARE(dialog->objectName(), QStringLiteral("CommonDialog1"));
    QCOMPARE(dialog->parentWidget(), m_window.get());
    // The file name box has the focus, as for a user: the dialog fills it in
    // from the list only while it has not.
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QTRY_COMPARE(QApplication::focusWidget(), fileNameEdit(dialog));
    step(dialog);
  });
  QTest::mouseClick(control<QPushButton>(*m_window, button), Qt::LeftButton);
  QCOMPARE(dialogs, 1);
  QCOMPARE(QApplication::activeModalWidget(), nullptr);
  // Nothing of the dialog stays open: no completion list waits for the next click.
  QCOMPARE(QApplication::activePopupWidget(), nullptr);
}

void DialogsTest::dialogSettings_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("title");
  QTest::addColumn<int>("acceptMode");
  QTest::newRow("input") << "cmdInputFile"
                         << "Open" << int(QFileDialog::AcceptOpen);
  QTest::newRow("output") << "cmdOutputFile"
                          << "Save As" << int(QFileDialog::AcceptSave);
}

void DialogsTest::dialogSettings() {
  QFETCH(QString, button);
  QFETCH(QString, title);
  QFETCH(int, acceptMode);

  // The initial folder is the program's, whatever the working folder.
  QVERIFY(QDir::setCurrent(m_dir->path()));
  browse(qPrintable(button), [&](QFileDialog* dialog) {
    QCOMPARE(canonical(dialog->directory().absolutePath()),
             canonical(QCoreApplication::applicationDirPath()));
    QCOMPARE(dialog->windowTitle(), title);
    QCOMPARE(int(dialog->acceptMode()), acceptMode);
    QVERIFY(dialog->isModal());
    QCOMPARE(dialog->fileMode(), QFileDialog::AnyFile);
    QCOMPARE(dialog->defaultSuffix(), QString());
    QCOMPARE(fileNameEdit(dialog)->text(), QString());
    cancel(dialog);
  });
}

void DialogsTest::filterListsTextFiles_data() {
  QTest::addColumn<QString>("button");
  QTest::newRow("input") << "cmdInputFile";
  QTest::newRow("output") << "cmdOutputFile";
}

void DialogsTest::filterListsTextFiles() {
  QFETCH(QString, button);
  const QDir folder(m_dir->path());
  for (const char* name : {"a.txt", "b.csv", "C.TXT", "d.doc", "e.txt.bak", "noext", "f.csvx", "g.tx", "txt"})
    write(folder.filePath(QLatin1String(name)), "x");
  QVERIFY(folder.mkdir(QStringLiteral("sub.doc")));

  browse(qPrintable(button), [&](QFileDialog* dialog) {
    auto* types = control<QComboBox>(*dialog, "fileTypeCombo");
    QCOMPARE(types->count(), 1);
    QCOMPARE(types->currentText(), QStringLiteral("Text files (*.txt;*.csv)"));
    // Into the test's folder by its path, as a user would go there.
    typeFileName(dialog, folder.path());
    accept(dialog);
    QCOMPARE(canonical(dialog->directory().absolutePath()), canonical(folder.path()));
    QTRY_COMPARE(listed(dialog), (QStringList{"C.TXT", "a.txt", "b.csv", "sub.doc"}));
    cancel(dialog);
  });
}

void DialogsTest::cancelChangesNothing_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("textBox");
  QTest::addColumn<QString>("before");
  QTest::newRow("input, empty") << "cmdInputFile"
                                << "txtInputFileName"
                                << "";
  QTest::newRow("input, typed") << "cmdInputFile"
                                << "txtInputFileName"
                                << "typed before.txt";
  QTest::newRow("output, empty") << "cmdOutputFile"
                                 << "txtOutputFileName"
                                 << "";
  QTest::newRow("output, typed") << "cmdOutputFile"
                                 << "txtOutputFileName"
                                 << "typed before.txt";
}

void DialogsTest::cancelChangesNothing() {
  QFETCH(QString, button);
  QFETCH(QString, textBox);
  QFETCH(QString, before);
  auto* box = control<QLineEdit>(*m_window, qPrintable(textBox));
  QTest::keyClicks(box, before);

  const QString typed = QDir(m_dir->path()).filePath(QStringLiteral("typed in the dialog.txt"));
  browse(qPrintable(button), [&](QFileDialog* dialog) {
    typeFileName(dialog, typed);
    cancel(dialog);
  });
  QCOMPARE(box->text(), before);
  QCOMPARE(control<QLineEdit>(*m_window, "txtInputFileName")->text(),
           textBox == "txtInputFileName" ? before : "");
  QCOMPARE(control<QLineEdit>(*m_window, "txtOutputFileName")->text(),
           textBox == "txtOutputFileName" ? before : "");
  QVERIFY(!QFile::exists(typed));

  // What was typed before the cancel is not proposed next time.
  browse(qPrintable(button), [&](QFileDialog* dialog) {
    QCOMPARE(fileNameEdit(dialog)->text(), QString());
    cancel(dialog);
  });
}

void DialogsTest::choiceFillsItsBox_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("textBox");
  QTest::addColumn<QString>("otherBox");
  QTest::addColumn<QString>("name");
  QTest::newRow("input") << "cmdInputFile"
                         << "txtInputFileName"
                         << "txtOutputFileName"
                         << "list.csv";
  QTest::newRow("output") << "cmdOutputFile"
                          << "txtOutputFileName"
                          << "txtInputFileName"
                          << "addresses.txt";
  QTest::newRow("output, no extension added") << "cmdOutputFile"
                                              << "txtOutputFileName"
                                              << "txtInputFileName"
                                              << "addresses";
}

void DialogsTest::choiceFillsItsBox() {
  QFETCH(QString, button);
  QFETCH(QString, textBox);
  QFETCH(QString, otherBox);
  QFETCH(QString, name);
  auto* box = control<QLineEdit>(*m_window, qPrintable(textBox));
  auto* other = control<QLineEdit>(*m_window, qPrintable(otherBox));
  // A path typed in the box plays no part in the dialog and is replaced.
  QTest::keyClicks(box, QStringLiteral("typed.txt"));
  QTest::keyClicks(other, QStringLiteral("other.txt"));

  const QString path = QDir(m_dir->path()).filePath(name);
  // A file named like the chosen one and longer: the completion list offers
  // it while the name is typed, and is open when Enter chooses.
  const QString longer = name + QStringLiteral(" (copy).txt");
  write(QDir(m_dir->path()).filePath(longer), "x");
  browse(qPrintable(button), [&](QFileDialog* dialog) {
    QCOMPARE(fileNameEdit(dialog)->text(), QString());
    typeFileName(dialog, path);
    QTRY_VERIFY(fileNameEdit(dialog)->completer()->popup()->isVisible());
    accept(dialog);
  });
  QCOMPARE(box->text(), path);
  QCOMPARE(other->text(), QStringLiteral("other.txt"));
  // The next click reaches the window, as a user clicks there: on Close.
  auto* cmdClose = control<QPushButton>(*m_window, "cmdClose");
  QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                    cmdClose->mapTo(m_window.get(), cmdClose->rect().center()));
  QVERIFY(!m_window->isVisible());
  // A choice touches no file.
  QVERIFY(!QFile::exists(path));
  QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{longer});
}

void DialogsTest::chosenNameProposedByBothButtons_data() {
  QTest::addColumn<QString>("first");
  QTest::addColumn<QString>("second");
  QTest::addColumn<QString>("secondBox");
  QTest::newRow("input, then output") << "cmdInputFile"
                                      << "cmdOutputFile"
                                      << "txtOutputFileName";
  QTest::newRow("output, then input") << "cmdOutputFile"
                                      << "cmdInputFile"
                                      << "txtInputFileName";
  QTest::newRow("input, then input") << "cmdInputFile"
                                     << "cmdInputFile"
                                     << "txtInputFileName";
}

void DialogsTest::chosenNameProposedByBothButtons() {
  QFETCH(QString, first);
  QFETCH(QString, second);
  QFETCH(QString, secondBox);
  const QString chosen = QDir(m_dir->path()).filePath(QStringLiteral("chosen.txt"));
  browse(qPrintable(first), [&](QFileDialog* dialog) {
    typeFileName(dialog, chosen);
    accept(dialog);
  });

  // A cancelled dialog in between does not change what is kept.
  browse(qPrintable(second), [&](QFileDialog* dialog) {
    typeFileName(dialog, QDir(m_dir->path()).filePath(QStringLiteral("cancelled.txt")));
    cancel(dialog);
  });
  auto* box = control<QLineEdit>(*m_window, qPrintable(secondBox));
  box->clear();
  QTest::keyClicks(box, QStringLiteral("typed.txt"));
  browse(qPrintable(second), [&](QFileDialog* dialog) {
    QCOMPARE(fileNameEdit(dialog)->text(), QStringLiteral("chosen.txt"));
    QCOMPARE(dialog->selectedFiles(), QStringList{chosen});
    accept(dialog);
  });
  QCOMPARE(box->text(), chosen);
}

void DialogsTest::overwritePrompt_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("textBox");
  QTest::addColumn<bool>("asks");
  QTest::newRow("save dialog asks") << "cmdOutputFile"
                                    << "txtOutputFileName" << true;
  QTest::newRow("open dialog does not") << "cmdInputFile"
                                        << "txtInputFileName" << false;
}

void DialogsTest::overwritePrompt() {
  QFETCH(QString, button);
  QFETCH(QString, textBox);
  QFETCH(bool, asks);
  const QString existing = QDir(m_dir->path()).filePath(QStringLiteral("existing.txt"));
  write(existing, "keep me");

  int prompts = 0;
  browse(qPrintable(button), [&](QFileDialog* dialog) {
    typeFileName(dialog, existing);
    if (!asks) {
      accept(dialog);
      return;
    }
    // Declining returns to the dialog; accepting returns the path.
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
      const auto watch = onNextModal([&, answer](QWidget* modal) {
        ++prompts;
        auto* prompt = qobject_cast<QMessageBox*>(modal);
        QVERIFY(prompt != nullptr);
        QVERIFY2(prompt->text().contains(QStringLiteral("existing.txt")), qPrintable(prompt->text()));
        QCOMPARE(prompt->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        QTest::mouseClick(prompt->button(answer), Qt::LeftButton);
      });
      accept(dialog);
      QCOMPARE(dialog->isVisible(), answer == QMessageBox::No);
    }
  });
  QCOMPARE(prompts, asks ? 2 : 0);
  QCOMPARE(control<QLineEdit>(*m_window, qPrintable(textBox))->text(), existing);
  QFile file(existing);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void DialogsTest::openAcceptsMissingFile() {
  const QString missing = QDir(m_dir->path()).filePath(QStringLiteral("missing.txt"));
  browse("cmdInputFile", [&](QFileDialog* dialog) {
    typeFileName(dialog, missing);
    accept(dialog);
  });
  QCOMPARE(control<QLineEdit>(*m_window, "txtInputFileName")->text(), missing);

  // The run is what finds the file missing.
  QTest::keyClicks(control<QLineEdit>(*m_window, "txtOutputFileName"),
                   QDir(m_dir->path()).filePath("out.txt"));
  QString report;
  const auto watch = onNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box != nullptr);
    report = box->text();
    box->done(QMessageBox::Ok);
  });
  QTest::mouseClick(control<QPushButton>(*m_window, "cmdProcess"), Qt::LeftButton);
  QVERIFY2(report.contains(missing), qPrintable(report));
  QVERIFY(!QFile::exists(missing));
}

void DialogsTest::choiceNotTextIsRefused_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("textBox");
  QTest::addColumn<QString>("name");
  QTest::newRow("input") << "cmdInputFile"
                         << "txtInputFileName"
                         << "out\uFFFD.csv";
  QTest::newRow("output") << "cmdOutputFile"
                          << "txtOutputFileName"
                          << "new\uFFFD.csv";
}

// The dialog lists the names out + FF + .csv and out + U+FFFD + .csv as one:
// a name that it shows with U+FFFD may stand for either, or for another file
// yet, and is refused, with the reason.
void DialogsTest::choiceNotTextIsRefused() {
  QFETCH(QString, button);
  QFETCH(QString, textBox);
  QFETCH(QString, name);
  const QByteArray folder = QFile::encodeName(m_dir->path());
  for (const QByteArray& file : {QByteArray("/out\xFF.csv"), QByteArray("/out\xEF\xBF\xBD.csv")}) {
    QFile created;
    QVERIFY(created.open(::open((folder + file).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600),
                         QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
  }
  auto* box = control<QLineEdit>(*m_window, qPrintable(textBox));
  QTest::keyClicks(box, QStringLiteral("typed.txt"));
  QStringList boxes;
  m_window->setShowModal([&](QMessageBox& shown) {
    boxes.append(shown.text());
    return int(QMessageBox::Ok);
  });
  browse(qPrintable(button), [&](QFileDialog* dialog) {
    // Pasted: keys type ASCII only.
    fileNameEdit(dialog)->setText(QDir(m_dir->path()).filePath(name));
    accept(dialog);
  });
  QCOMPARE(box->text(), QStringLiteral("typed.txt"));
  QCOMPARE(boxes.size(), 1);
  QVERIFY2(boxes[0].contains(QLatin1String("U+FFFD")), qPrintable(boxes[0]));
}

}  // namespace tavrin

QTEST_MAIN(tavrin::DialogsTest)
#include "ui_dialogs_test.moc"
