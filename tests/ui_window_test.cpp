#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cerrno>
#include <cstring>
#include <set>

#include "tests/ui_modal.hpp"
#include "ui/frm_tavrin.hpp"

namespace tavrin {

namespace {

const QString kPlainHeader = QStringLiteral("EMail1\r\n");

template <typename T>
T* control(const QWidget& window, const char* name) {
  auto* control = window.findChild<T*>(QLatin1String(name));
  if (control == nullptr) qFatal("no control %s", name);
  return control;
}

QString statusText(const QWidget& window) {
  return control<QLabel>(*control<QStatusBar>(window, "StatusBar1"), "Panel1")->text();
}

void write(const QString& path, const QByteArray& content) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(content);
}

QByteArray read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(no file)");
}

// Replaces a text box's text as a user would: select all, then type.
void type(QLineEdit* textBox, const QString& text) {
  textBox->selectAll();
  QTest::keyClick(textBox, Qt::Key_Delete);
  QTest::keyClicks(textBox, text);
}

QString strerror(int number) {
  return QString::fromLocal8Bit(std::strerror(number));
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();

  void storedDesign_data();
  void storedDesign();
  void windowFrame();
  void initialState();
  void tabOrder_data();
  void tabOrder();
  void programIcon_data();
  void programIcon();

  void wholeRun_data();
  void wholeRun();
  void longSeparatorPassesWhole();
  void messageBoxes_data();
  void messageBoxes();
  void longLineReportIsShortened();
  void secondRunReplacesFirst();
  void enterAndEscapeDoNothing_data();
  void enterAndEscapeDoNothing();
  void nothingElseDuringRun();
  void closeEndsProgram_data();
  void closeEndsProgram();

 private:
  // Fills the window as a user would and presses Process.
  void process(FrmTavrin& window, const QString& input, const QString& output, const QString& separator,
               bool unbuild);

  std::unique_ptr<QTemporaryDir> m_dir;
};

void WindowTest::init() {
  m_dir = std::make_unique<QTemporaryDir>();
  QVERIFY(m_dir->isValid());
}

void WindowTest::process(FrmTavrin& window, const QString& input, const QString& output,
                         const QString& separator, bool unbuild) {
  type(control<QLineEdit>(window, "txtInputFileName"), input);
  type(control<QLineEdit>(window, "txtOutputFileName"), output);
  type(control<QLineEdit>(window, "txtSeparator"), separator);
  auto* check = control<QCheckBox>(window, "chkUnbuildMailTo");
  if (check->isChecked() != unbuild) QTest::mouseClick(check, Qt::LeftButton);
  QCOMPARE(check->isChecked(), unbuild);
  QTest::mouseClick(control<QPushButton>(window, "cmdProcess"), Qt::LeftButton);
}

void WindowTest::storedDesign_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QRect>("geometry");

  // Twips divided by 15.
  QTest::newRow("Label1") << "Label1"
                          << "QLabel"
                          << "Input Filename:" << QRect(8, 20, 105, 17);
  QTest::newRow("txtInputFileName") << "txtInputFileName"
                                    << "QLineEdit"
                                    << "" << QRect(116, 20, 185, 19);
  QTest::newRow("cmdInputFile") << "cmdInputFile"
                                << "QPushButton"
                                << "Browse..." << QRect(304, 20, 69, 19);
  QTest::newRow("Label2") << "Label2"
                          << "QLabel"
                          << "Output Filename:" << QRect(8, 46, 105, 17);
  QTest::newRow("txtOutputFileName") << "txtOutputFileName"
                                     << "QLineEdit"
                                     << "" << QRect(116, 46, 185, 19);
  QTest::newRow("cmdOutputFile") << "cmdOutputFile"
                                 << "QPushButton"
                                 << "Browse..." << QRect(304, 46, 69, 19);
  QTest::newRow("Label3") << "Label3"
                          << "QLabel"
                          << "Separator:" << QRect(8, 72, 105, 17);
  QTest::newRow("txtSeparator") << "txtSeparator"
                                << "QLineEdit"
                                << "," << QRect(116, 72, 21, 19);
  QTest::newRow("chkUnbuildMailTo") << "chkUnbuildMailTo"
                                    << "QCheckBox"
                                    << "\"Name\" <name@example.com>" << QRect(116, 96, 181, 21);
  QTest::newRow("cmdProcess") << "cmdProcess"
                              << "QPushButton"
                              << "Process" << QRect(116, 140, 69, 23);
  QTest::newRow("cmdClose") << "cmdClose"
                            << "QPushButton"
                            << "Close" << QRect(192, 140, 69, 23);
  QTest::newRow("StatusBar1") << "StatusBar1"
                              << "QStatusBar"
                              << "" << QRect(0, 180, 379, 17);
}

void WindowTest::storedDesign() {
  QFETCH(QString, name);
  QFETCH(QString, kind);
  QFETCH(QString, text);
  QFETCH(QRect, geometry);

  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  auto* control = window.findChild<QWidget*>(name);
  QVERIFY(control != nullptr);
  QCOMPARE(control->parentWidget(), &window);
  QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
  QCOMPARE(control->geometry(), geometry);
  QVERIFY(control->isVisible());
  QVERIFY(control->isEnabled());

  QString shown;
  if (auto* label = qobject_cast<QLabel*>(control)) shown = label->text();
  if (auto* textBox = qobject_cast<QLineEdit*>(control)) shown = textBox->text();
  if (auto* button = qobject_cast<QAbstractButton*>(control)) shown = button->text();
  if (auto* bar = qobject_cast<QStatusBar*>(control)) {
    QVERIFY(!bar->isSizeGripEnabled());
    // One panel over the whole width.
    const auto panels = bar->findChildren<QLabel*>();
    QCOMPARE(panels.size(), 1);
    QVERIFY(panels[0]->isVisible());
    const QRect panel = panels[0]->geometry();
    QVERIFY2(bar->rect().contains(panel) && panel.width() >= bar->width() - 12,
             qPrintable(QStringLiteral("%1,%2 %3x%4")
                            .arg(panel.x())
                            .arg(panel.y())
                            .arg(panel.width())
                            .arg(panel.height())));
    shown = panels[0]->text();
  }
  QCOMPARE(shown, text);

  // Every caption fits its control.
  if (qobject_cast<QLabel*>(control) || qobject_cast<QCheckBox*>(control))
    QVERIFY2(control->sizeHint().width() <= geometry.width(),
             qPrintable(QString::number(control->sizeHint().width())));
  if (qobject_cast<QPushButton*>(control))
    QVERIFY(control->fontMetrics().horizontalAdvance(text) + 8 <= geometry.width());
}

void WindowTest::windowFrame() {
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QCOMPARE(window.objectName(), QStringLiteral("frmTavrin"));
  QCOMPARE(window.windowTitle(), QStringLiteral("Tavrin"));
  QCOMPARE(window.size(), QSize(379, 197));
  QCOMPARE(window.minimumSize(), QSize(379, 197));
  QCOMPARE(window.maximumSize(), QSize(379, 197));
  const Qt::WindowFlags flags = window.windowFlags();
  QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
  QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
  QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
  const QPoint offCentre = window.geometry().center() - window.screen()->availableGeometry().center();
  QVERIFY2(offCentre.manhattanLength() <= 2,
           qPrintable(QStringLiteral("%1,%2").arg(offCentre.x()).arg(offCentre.y())));
}

void WindowTest::initialState() {
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  QCOMPARE(QApplication::focusWidget(), control<QLineEdit>(window, "txtInputFileName"));
  QVERIFY(!control<QCheckBox>(window, "chkUnbuildMailTo")->isChecked());
  QCOMPARE(statusText(window), QString());
  // No default button, and no caption with an access key.
  for (auto* button : window.findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
    QVERIFY(!button->isDefault());
    QVERIFY(!button->autoDefault());
    QVERIFY(!button->text().contains(QLatin1Char('&')));
  }
  QVERIFY(!control<QCheckBox>(window, "chkUnbuildMailTo")->text().contains(QLatin1Char('&')));
}

void WindowTest::tabOrder_data() {
  QTest::addColumn<bool>("backwards");
  QTest::newRow("Tab") << false;
  QTest::newRow("Shift+Tab") << true;
}

void WindowTest::tabOrder() {
  QFETCH(bool, backwards);
  QStringList order = {"txtInputFileName", "txtOutputFileName", "cmdProcess",    "txtSeparator",
                       "chkUnbuildMailTo", "cmdInputFile",      "cmdOutputFile", "cmdClose"};
  if (backwards) std::reverse(order.begin() + 1, order.end());
  order.append(order.first());

  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  QCOMPARE(QApplication::focusWidget()->objectName(), order.first());
  for (qsizetype i = 1; i < order.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
    QCOMPARE(QApplication::focusWidget()->objectName(), order[i]);
  }
}

void WindowTest::programIcon_data() {
  QTest::addColumn<QString>("file");
  QTest::addColumn<int>("size");
  QTest::addColumn<int>("colours");
  QTest::newRow("32 by 32, two colours") << ":/icons/tavrin-32x32-2.png" << 32 << 2;
  QTest::newRow("32 by 32, 16 colours") << ":/icons/tavrin-32x32-16.png" << 32 << 16;
  QTest::newRow("16 by 16, 16 colours") << ":/icons/tavrin-16x16-16.png" << 16 << 16;
}

void WindowTest::programIcon() {
  QFETCH(QString, file);
  QFETCH(int, size);
  QFETCH(int, colours);

  const QImage image(file);
  QCOMPARE(image.size(), QSize(size, size));
  std::set<QRgb> used;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x)
      if (qAlpha(image.pixel(x, y)) == 255) used.insert(image.pixel(x, y));
  QVERIFY2(used.size() <= static_cast<std::size_t>(colours), qPrintable(QString::number(used.size())));
  QVERIFY(used.size() >= 2);

  FrmTavrin window;
  QVERIFY(window.windowIcon().availableSizes().contains(QSize(size, size)));
}

void WindowTest::wholeRun_data() {
  QTest::addColumn<QByteArray>("input");
  QTest::addColumn<QString>("separator");
  QTest::addColumn<bool>("unbuild");
  QTest::addColumn<QByteArray>("output");
  QTest::addColumn<QString>("status");
  QTest::addColumn<QString>("separatorAfter");

  QTest::newRow("plain") << QByteArray("a,b\r\nc\r\n") << "," << false
                         << QByteArray("EMail1\r\na\r\nb\r\nc\r\n") << "3 - c"
                         << ",";
  QTest::newRow("separator trimmed") << QByteArray("x ; y\n") << " ; " << false
                                     << QByteArray("EMail1\r\nx\r\ny\r\n") << "2 - y"
                                     << ";";
  QTest::newRow("blank separator") << QByteArray("p,q\n") << "   " << false
                                   << QByteArray("EMail1\r\np\r\nq\r\n") << "2 - q"
                                   << ",";
  QTest::newRow("unbuild")
      << QByteArray("\"Doe, John\" <john@example.com>;\"Acme Inc\" <sales@acme.example>\n") << ";" << true
      << QByteArray("DisplayName,EMail1\r\nJohn Doe,john@example.com\r\nPartner,sales@acme.example\r\n")
      << "2 - \"Acme Inc\" <sales@acme.example>"
      << ";";
  QTest::newRow("non-ASCII") << QByteArray("\xc3\xa9t\xc3\xa9,\xe2\x82\xac\n") << "," << false
                             << QByteArray("EMail1\r\n\xc3\xa9t\xc3\xa9\r\n\xe2\x82\xac\r\n")
                             << QString::fromUtf8("2 - \xe2\x82\xac") << ",";
  QTest::newRow("no token keeps status") << QByteArray(" , ,\n\n") << "," << false << QByteArray() << ""
                                         << ",";
}

void WindowTest::wholeRun() {
  QFETCH(QByteArray, input);
  QFETCH(QString, separator);
  QFETCH(bool, unbuild);
  QFETCH(QByteArray, output);
  QFETCH(QString, status);
  QFETCH(QString, separatorAfter);

  const QString inputPath = m_dir->filePath(QStringLiteral("in.txt"));
  const QString outputPath = m_dir->filePath(QStringLiteral("out.csv"));
  write(inputPath, input);
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  process(window, inputPath, outputPath, separator, unbuild);

  QCOMPARE(read(outputPath), output);
  QCOMPARE(statusText(window), status);
  QCOMPARE(control<QLineEdit>(window, "txtSeparator")->text(), separatorAfter);
  QCOMPARE(read(inputPath), input);
  QVERIFY(window.isVisible());
}

void WindowTest::longSeparatorPassesWhole() {
  const QString inputPath = m_dir->filePath(QStringLiteral("in.txt"));
  const QString outputPath = m_dir->filePath(QStringLiteral("out.txt"));
  write(inputPath, "a\n");
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));

  // Longer than Qt's default limit for a line edit, pasted as a user would.
  const QString separator(40000, QLatin1Char('x'));
  auto* txtSeparator = control<QLineEdit>(window, "txtSeparator");
  QApplication::clipboard()->setText(" " + separator + " ");
  txtSeparator->selectAll();
  QTest::keyClick(txtSeparator, Qt::Key_V, Qt::ControlModifier);
  QCOMPARE(txtSeparator->text().size(), separator.size() + 2);
  type(control<QLineEdit>(window, "txtInputFileName"), inputPath);
  type(control<QLineEdit>(window, "txtOutputFileName"), outputPath);
  QTest::mouseClick(control<QPushButton>(window, "cmdProcess"), Qt::LeftButton);
  QCOMPARE(txtSeparator->text(), separator);
  QCOMPARE(read(outputPath), QByteArray("EMail1\r\na\r\n"));
}

void WindowTest::messageBoxes_data() {
  QTest::addColumn<QByteArray>("input");  // "(none)": no input file
  QTest::addColumn<bool>("unbuild");
  QTest::addColumn<QString>("text");  // a pattern; IN stands for the input file's path
  QTest::addColumn<int>("icon");
  QTest::addColumn<QString>("title");
  QTest::addColumn<int>("buttons");
  QTest::addColumn<int>("defaultButton");
  QTest::addColumn<QString>("statusShown");
  QTest::addColumn<int>("answer");  // NoButton: the Return key
  QTest::addColumn<QByteArray>("output");
  QTest::addColumn<QString>("statusAfter");

  const QString einval = QRegularExpression::escape(strerror(EINVAL));
  const QByteArray lineFails = "\"Last\",a@b.c\n\"Doe, John\" <john@example.com>\n";
  const QString lineReport = "^Error processing line: \"Last\",a@b\\.c\nDescription: " + einval +
                             "\nNumber: " + QString::number(EINVAL) + "$";

  QTest::newRow("run report") << QByteArray("(none)") << false
                              << "^.*IN.*" + QRegularExpression::escape(strerror(ENOENT)) + "\\(" +
                                     QString::number(ENOENT) + "\\)$"
                              << int(QMessageBox::NoIcon) << "Tavrin" << int(QMessageBox::Ok)
                              << int(QMessageBox::NoButton) << "" << int(QMessageBox::Ok)
                              << QByteArray("(no file)") << "";
  QTest::newRow("line report, Yes by Return")
      << lineFails << true << lineReport << int(QMessageBox::Question) << "Tavrin"
      << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::Yes) << "1 - \"Last\""
      << int(QMessageBox::NoButton) << QByteArray("DisplayName,EMail1\r\nJohn Doe,john@example.com\r\n")
      << "2 - \"Doe, John\" <john@example.com>";
  QTest::newRow("line report, Yes") << lineFails << true << lineReport << int(QMessageBox::Question)
                                    << "Tavrin" << int(QMessageBox::Yes | QMessageBox::No)
                                    << int(QMessageBox::Yes) << "1 - \"Last\"" << int(QMessageBox::Yes)
                                    << QByteArray("DisplayName,EMail1\r\nJohn Doe,john@example.com\r\n")
                                    << "2 - \"Doe, John\" <john@example.com>";
  QTest::newRow("line report, No") << lineFails << true << lineReport << int(QMessageBox::Question)
                                   << "Tavrin" << int(QMessageBox::Yes | QMessageBox::No)
                                   << int(QMessageBox::Yes) << "1 - \"Last\"" << int(QMessageBox::No)
                                   << QByteArray() << "1 - \"Last\"";
  QTest::newRow("line report, markup shown as text")
      << QByteArray("\"<b>x</b>\"\n") << true
      << "^Error processing line: \"<b>x</b>\"\nDescription: " << int(QMessageBox::Question) << "Tavrin"
      << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::Yes) << "1 - \"<b>x</b>\""
      << int(QMessageBox::No) << QByteArray() << "1 - \"<b>x</b>\"";
  QTest::newRow("warning") << QByteArray("x,\"open\nlast\n") << false << "^Error: " + einval + "$"
                           << int(QMessageBox::Warning) << "Tavrin" << int(QMessageBox::Ok)
                           << int(QMessageBox::NoButton) << "" << int(QMessageBox::Ok)
                           << QByteArray("EMail1\r\nlast\r\n") << "1 - last";
}

void WindowTest::messageBoxes() {
  QFETCH(QByteArray, input);
  QFETCH(bool, unbuild);
  QFETCH(QString, text);
  QFETCH(int, icon);
  QFETCH(QString, title);
  QFETCH(int, buttons);
  QFETCH(int, defaultButton);
  QFETCH(QString, statusShown);
  QFETCH(int, answer);
  QFETCH(QByteArray, output);
  QFETCH(QString, statusAfter);

  const QString inputPath = m_dir->filePath(QStringLiteral("in.txt"));
  const QString outputPath = m_dir->filePath(QStringLiteral("out.txt"));
  if (input != "(none)") write(inputPath, input);
  write(outputPath, "from before");
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));

  int boxes = 0;
  const auto watch = onNextModal([&](QWidget* modal) {
    ++boxes;
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box != nullptr);
    QCOMPARE(box->parentWidget(), &window);
    QVERIFY(box->isModal());
    const QRegularExpression pattern(
        QString(text).replace(QLatin1String("IN"), QRegularExpression::escape(inputPath)));
    QVERIFY2(pattern.match(box->text()).hasMatch(), qPrintable(box->text()));
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(int(box->icon()), icon);
    QCOMPARE(box->windowTitle(), title);
    QCOMPARE(int(box->standardButtons()), buttons);
    QCOMPARE(int(box->standardButton(box->defaultButton())), defaultButton);
    // The status bar is up to date while the box waits.
    QCOMPARE(statusText(window), statusShown);
    if (answer == QMessageBox::NoButton)
      QTest::keyClick(box, Qt::Key_Return);
    else
      QTest::mouseClick(box->button(QMessageBox::StandardButton(answer)), Qt::LeftButton);
  });
  process(window, inputPath, outputPath, QStringLiteral(","), unbuild);

  QCOMPARE(boxes, 1);
  QCOMPARE(QApplication::activeModalWidget(), nullptr);
  QCOMPARE(read(outputPath), output);
  QCOMPARE(statusText(window), statusAfter);
}

void WindowTest::longLineReportIsShortened() {
  const QByteArray tail(300000, 'x');
  const QString inputPath = m_dir->filePath(QStringLiteral("in.txt"));
  write(inputPath, "\"Last\"," + tail + "\n");
  FrmTavrin window;
  window.show();

  QString shown;
  const auto watch = onNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box != nullptr);
    shown = box->text();
    box->done(QMessageBox::No);
  });
  process(window, inputPath, m_dir->filePath(QStringLiteral("out.txt")), QStringLiteral(","), true);

  QVERIFY2(shown.size() < 5000, qPrintable(QString::number(shown.size())));
  QVERIFY(shown.startsWith(QStringLiteral("Error processing line: \"Last\",xxxx")));
  QVERIFY(shown.contains(QStringLiteral("xx [\u2026] xx")));
  QVERIFY(shown.endsWith("xxx\nDescription: " + strerror(EINVAL) + "\nNumber: " + QString::number(EINVAL)));
}

void WindowTest::secondRunReplacesFirst() {
  const QString first = m_dir->filePath(QStringLiteral("first.txt"));
  const QString second = m_dir->filePath(QStringLiteral("second.txt"));
  const QString outputPath = m_dir->filePath(QStringLiteral("out.txt"));
  write(first, "a,b,c\nd\n");
  write(second, "z\n");
  FrmTavrin window;
  window.show();

  process(window, first, outputPath, QStringLiteral(","), false);
  QCOMPARE(read(outputPath), kPlainHeader.toLatin1() + "a\r\nb\r\nc\r\nd\r\n");
  QCOMPARE(statusText(window), QStringLiteral("4 - d"));

  process(window, second, outputPath, QStringLiteral(","), false);
  QCOMPARE(read(outputPath), kPlainHeader.toLatin1() + "z\r\n");
  QCOMPARE(statusText(window), QStringLiteral("1 - z"));
}

void WindowTest::enterAndEscapeDoNothing_data() {
  QTest::addColumn<QString>("focus");
  QTest::addColumn<int>("key");
  for (const char* focus : {"txtInputFileName", "txtOutputFileName", "txtSeparator", "chkUnbuildMailTo",
                            "cmdProcess", "cmdClose", "cmdInputFile"}) {
    QTest::addRow("Return in %s", focus) << focus << int(Qt::Key_Return);
    QTest::addRow("Enter in %s", focus) << focus << int(Qt::Key_Enter);
    QTest::addRow("Escape in %s", focus) << focus << int(Qt::Key_Escape);
  }
}

void WindowTest::enterAndEscapeDoNothing() {
  QFETCH(QString, focus);
  QFETCH(int, key);

  const QString inputPath = m_dir->filePath(QStringLiteral("in.txt"));
  const QString outputPath = m_dir->filePath(QStringLiteral("out.txt"));
  write(inputPath, "a\n");
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  type(control<QLineEdit>(window, "txtInputFileName"), inputPath);
  type(control<QLineEdit>(window, "txtOutputFileName"), outputPath);

  auto* target = control<QWidget>(window, qPrintable(focus));
  target->setFocus();
  QCOMPARE(QApplication::focusWidget(), target);
  // A dialog from a Browse button would be a reaction too; it fails the test rather than hang it.
  bool dialogOpened = false;
  QTimer dialogCloser;
  connect(&dialogCloser, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      dialogOpened = true;
      modal->close();
    }
  });
  dialogCloser.start(10);
  QTest::keyClick(target, Qt::Key(key));
  QTest::qWait(50);

  QVERIFY(!dialogOpened);
  QVERIFY(window.isVisible());
  QVERIFY(!QFile::exists(outputPath));
  QCOMPARE(statusText(window), QString());
}

void WindowTest::nothingElseDuringRun() {
  const QString inputPath = m_dir->filePath(QStringLiteral("in.txt"));
  const QString otherInput = m_dir->filePath(QStringLiteral("other.txt"));
  const QString outputPath = m_dir->filePath(QStringLiteral("out.txt"));
  const QString otherOutput = m_dir->filePath(QStringLiteral("other-out.txt"));
  write(inputPath, "\"Last\"\nx@y.z\n");
  write(otherInput, "z@q.r\n");
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));

  // While the line report waits, the window is asked to start a second run
  // (on other files, so that one would show) and to close.
  int boxes = 0;
  const auto watch = onNextModal([&](QWidget* modal) {
    ++boxes;
    control<QLineEdit>(window, "txtInputFileName")->setText(otherInput);
    control<QLineEdit>(window, "txtOutputFileName")->setText(otherOutput);
    control<QPushButton>(window, "cmdProcess")->click();
    QTest::mouseClick(control<QPushButton>(window, "cmdProcess"), Qt::LeftButton);
    QVERIFY(!QFile::exists(otherOutput));
    control<QPushButton>(window, "cmdClose")->click();
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    qobject_cast<QMessageBox*>(modal)->done(QMessageBox::Yes);
  });
  process(window, inputPath, outputPath, QStringLiteral(","), true);

  QCOMPARE(boxes, 1);
  QVERIFY(window.isVisible());
  QVERIFY(!QFile::exists(otherOutput));
  QCOMPARE(read(outputPath), QByteArray("DisplayName,EMail1\r\nPartner,x@y.z\r\n"));

  // Once the run is over, Process works again.
  QTest::mouseClick(control<QPushButton>(window, "cmdProcess"), Qt::LeftButton);
  QCOMPARE(read(otherOutput), QByteArray("DisplayName,EMail1\r\nPartner,z@q.r\r\n"));
}

void WindowTest::closeEndsProgram_data() {
  QTest::addColumn<bool>("closeBox");
  QTest::newRow("Close button") << false;
  QTest::newRow("close box") << true;
}

void WindowTest::closeEndsProgram() {
  QFETCH(bool, closeBox);
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));

  QTimer::singleShot(0, &window, [&] {
    if (closeBox)
      window.windowHandle()->close();
    else
      QTest::mouseClick(control<QPushButton>(window, "cmdClose"), Qt::LeftButton);
  });
  // The program's event loop ends by itself when the window closes.
  QTimer watchdog;
  connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  watchdog.start(5000);
  QVERIFY(QApplication::quitOnLastWindowClosed());
  QCOMPARE(QApplication::exec(), 0);
  QVERIFY(!window.isVisible());
}

}  // namespace tavrin

QTEST_MAIN(tavrin::WindowTest)
#include "ui_window_test.moc"
