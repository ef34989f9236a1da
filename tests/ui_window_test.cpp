#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/ui_modal.hpp"
#include "ui/frm_tavrin.hpp"
#include "ui/stored_design.hpp"

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

// The user's interface font, as the desktop's settings hand it to the program.
void setInterfaceFont(double pointSize) {
  QFont font = QApplication::font();
  font.setPointSizeF(pointSize);
  QApplication::setFont(font);
}

QString strerror(int number) {
  return QString::fromLocal8Bit(std::strerror(number));
}

// Drops a file on a control as a file manager does: its address, and the same
// as text, through the window, which finds the control under the point.
// Drops an address as a file manager or a web browser does: the address, and
// the same as text.
bool drop(QWidget& window, QWidget* target, const QUrl& address) {
  QMimeData data;
  data.setUrls({address});
  data.setText(address.toString());
  const QPointF point = target->mapTo(&window, target->rect().center());
  QDragEnterEvent enter(point.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window.windowHandle(), &enter);
  QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window.windowHandle(), &drop);
  return enter.isAccepted() && drop.isAccepted();
}

bool dropFile(QWidget& window, QWidget* target, const QString& path) {
  return drop(window, target, QUrl::fromLocalFile(path));
}

// A named pipe whose writer sends its text only when told, so that a run
// that reads it waits until then.
class SlowPipe {
 public:
  explicit SlowPipe(const QString& path) : m_path(path.toStdString()) {
    if (::mkfifo(m_path.c_str(), 0600) != 0) qFatal("mkfifo: %s", std::strerror(errno));
    m_writer = std::thread([this] { feed(); });
  }
  ~SlowPipe() {
    send({});
    m_writer.join();
  }
  // The text to send, then the end; an empty text sends only the end.
  void send(const std::string& text) {
    const std::lock_guard lock(m_mutex);
    if (!m_text) m_text = text;
    m_told.notify_all();
  }

 private:
  void feed() {
    int fd = -1;  // once a reader has opened the pipe
    std::unique_lock lock(m_mutex);
    while (!m_text && (fd = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0)
      m_told.wait_for(lock, std::chrono::milliseconds(5));
    // A run that never gets its text must not hang the test.
    m_told.wait_for(lock, std::chrono::seconds(10), [this] { return m_text.has_value(); });
    if (fd < 0) return;
    ::fcntl(fd, F_SETFL, 0);
    if (m_text) (void)::write(fd, m_text->data(), m_text->size());
    ::close(fd);
  }

  std::string m_path;
  std::mutex m_mutex;
  std::condition_variable m_told;
  std::optional<std::string> m_text;
  std::thread m_writer;
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();

  void initTestCase();
  void cleanup();

  void storedDesign_data();
  void storedDesign();
  void windowFrame_data();
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
  void boxFitsTheScreen_data();
  void boxFitsTheScreen();
  void secondRunReplacesFirst();
  void enterAndEscape_data();
  void enterAndEscape();
  void fileDrop_data();
  void fileDrop();
  void startWithoutDisplay_data();
  void startWithoutDisplay();
  void aliveDuringRun();
  void inputDuringRun_data();
  void inputDuringRun();
  void nothingElseDuringRun();
  void closeEndsProgram_data();
  void closeEndsProgram();
  void closeRequestDuringBox_data();
  void closeRequestDuringBox();

 private:
  // Fills the window as a user would and presses Process.
  void process(FrmTavrin& window, const QString& input, const QString& output, const QString& separator,
               bool unbuild);

  std::unique_ptr<QTemporaryDir> m_dir;
  QFont m_interfaceFont;
};

void WindowTest::initTestCase() {
  m_interfaceFont = QApplication::font();
  guardProcess();  // as the program does first
}

void WindowTest::cleanup() {
  QApplication::setFont(m_interfaceFont);
}

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

// The stored design, as the window must show it, each control in two lines:
// name, kind, twips (left, top, width, height) and tab index; caption, the
// name that screen readers say, and the label tied to a text box.
struct DesignedControl {
  const char* name;
  const char* kind;
  QRect twips;
  int tabIndex;
  const char* text;
  const char* accessibleName;
  const char* label;
};
// clang-format off
const DesignedControl kDesign[] = {
    {"Label1",            "QLabel",      { 120,  300, 1575, 255},  1,
                          "Input Filename:",             "Input Filename:",            ""},
    {"txtInputFileName",  "QLineEdit",   {1740,  300, 2775, 285},  0,
                          "",                            "Input file name",            "Label1"},
    {"cmdInputFile",      "QPushButton", {4560,  300, 1035, 285},  8,
                          "Browse...",                   "Browse for the input file",  ""},
    {"Label2",            "QLabel",      { 120,  690, 1575, 255},  3,
                          "Output Filename:",            "Output Filename:",           ""},
    {"txtOutputFileName", "QLineEdit",   {1740,  690, 2775, 285},  2,
                          "",                            "Output file name",           "Label2"},
    {"cmdOutputFile",     "QPushButton", {4560,  690, 1035, 285},  9,
                          "Browse...",                   "Browse for the output file", ""},
    {"Label3",            "QLabel",      { 120, 1080, 1575, 255},  6,
                          "Separator:",                  "Separator:",                 ""},
    {"txtSeparator",      "QLineEdit",   {1740, 1080,  315, 285},  5,
                          ",",                           "Separator",                  "Label3"},
    {"chkUnbuildMailTo",  "QCheckBox",   {1740, 1440, 2715, 315},  7,
                          "\"Name\" <name@example.com>", "Unpack names and addresses", ""},
    {"cmdProcess",        "QPushButton", {1740, 2100, 1035, 345},  4,
                          "Process",                     "Process",                    ""},
    {"cmdClose",          "QPushButton", {2880, 2100, 1035, 345}, 10,
                          "Close",                       "Close",                      ""},
    {"StatusBar1",        "QStatusBar",  {   0, 2700, 5685, 255}, 11,
                          "",                            "Status",                     ""},
};
// clang-format on

// Interface font sizes, and how much the design grows with each: by the
// ratio to the 8-point font that it was drawn for.
const std::pair<double, double> kFontScales[] = {{8, 1.0}, {11, 1.375}, {16, 2.0}};

void WindowTest::storedDesign_data() {
  QTest::addColumn<double>("pointSize");
  QTest::addColumn<double>("scale");
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QRect>("twips");
  QTest::addColumn<int>("tabIndex");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("accessibleName");
  QTest::addColumn<QString>("label");
  for (const auto& [pointSize, scale] : kFontScales)
    for (const DesignedControl& c : kDesign)
      QTest::addRow("%s, %g pt", c.name, pointSize) << pointSize << scale << c.name << c.kind << c.twips
                                                    << c.tabIndex << c.text << c.accessibleName << c.label;
}

void WindowTest::storedDesign() {
  QFETCH(double, pointSize);
  QFETCH(double, scale);
  QFETCH(QString, name);
  QFETCH(QString, kind);
  QFETCH(QRect, twips);
  QFETCH(int, tabIndex);
  QFETCH(QString, text);
  QFETCH(QString, accessibleName);
  QFETCH(QString, label);

  setInterfaceFont(pointSize);
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  auto* widget = window.findChild<QWidget*>(name);
  QVERIFY(widget != nullptr);
  QCOMPARE(widget->parentWidget(), &window);
  // As stored; tabOrder checks what it does.
  QCOMPARE(storedControl(name.toStdString()).tabIndex, tabIndex);
  QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), kind);
  // 15 twips make a pixel at the design's size.
  const auto pixels = [scale](int twips) { return qRound(twips * scale / 15); };
  const QRect geometry(pixels(twips.x()), pixels(twips.y()), pixels(twips.width()), pixels(twips.height()));
  QCOMPARE(widget->geometry(), geometry);
  QVERIFY(widget->isVisible());
  QVERIFY(widget->isEnabled());

  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
  QCOMPARE(accessible->text(QAccessible::Name), accessibleName);
  if (!label.isEmpty()) {
    const auto labels = accessible->relations(QAccessible::Label);
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels[0].first->object(), control<QLabel>(window, qPrintable(label)));
  }

  // Nothing is cut off: every caption fits its control, across and down.
  const int textHeight = widget->fontMetrics().height();
  QString shown;
  if (auto* caption = qobject_cast<QLabel*>(widget)) {
    shown = caption->text();
    QVERIFY(caption->sizeHint().width() <= geometry.width());
    QVERIFY(textHeight <= caption->contentsRect().height());
  }
  if (auto* textBox = qobject_cast<QLineEdit*>(widget)) {
    shown = textBox->text();
    // Inside the box's frame and margins.
    QVERIFY2(textHeight + 6 <= geometry.height(), qPrintable(QString::number(textHeight)));
  }
  if (auto* check = qobject_cast<QCheckBox*>(widget)) {
    shown = check->text();
    QVERIFY2(check->sizeHint().width() <= geometry.width(),
             qPrintable(QString::number(check->sizeHint().width())));
    QVERIFY(check->sizeHint().height() <= geometry.height());
  }
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    shown = button->text();
    QCOMPARE(button->font(), window.font());  // room enough: not narrowed
    // Inside the button's frame.
    QVERIFY(button->fontMetrics().horizontalAdvance(text) + 8 <= geometry.width());
    QVERIFY(textHeight + 4 <= geometry.height());
  }
  if (auto* bar = qobject_cast<QStatusBar*>(widget)) {
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
    // The descenders of g, j, p, q and y too.
    QVERIFY2(textHeight <= panels[0]->contentsRect().height(),
             qPrintable(QString::number(panels[0]->contentsRect().height())));
    shown = panels[0]->text();
  }
  QCOMPARE(shown, text);
}

void WindowTest::windowFrame_data() {
  QTest::addColumn<double>("pointSize");
  QTest::addColumn<QSize>("size");
  QTest::newRow("8 pt, as drawn") << 8.0 << QSize(379, 197);
  QTest::newRow("6 pt, never smaller") << 6.0 << QSize(379, 197);
  QTest::newRow("11 pt") << 11.0 << QSize(521, 271);
  QTest::newRow("12 pt, half as large again") << 12.0 << QSize(569, 296);
  QTest::newRow("16 pt, twice as large") << 16.0 << QSize(758, 394);
  // 800 by 600 pixels: the design grows only as far as the window fits.
  QTest::newRow("20 pt, as large as the screen allows") << 20.0 << QSize();
}

void WindowTest::windowFrame() {
  QFETCH(double, pointSize);
  QFETCH(QSize, size);
  setInterfaceFont(pointSize);
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QCOMPARE(window.objectName(), QStringLiteral("frmTavrin"));
  QCOMPARE(window.windowTitle(), QStringLiteral("Tavrin"));
  // The user's own font, not one of the program's choosing.
  QCOMPARE(window.font(), QApplication::font());
  const QRect screen = window.screen()->availableGeometry();
  if (size.isEmpty()) {
    QVERIFY(screen.contains(window.frameGeometry()));
    QVERIFY(window.width() < qRound(379 * pointSize / 8) && window.width() > 379);
    size = window.size();
  }
  QCOMPARE(window.size(), size);
  QCOMPARE(window.minimumSize(), size);
  QCOMPARE(window.maximumSize(), size);
  // A window of its own for screen readers, which speak its title.
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&window);
  QCOMPARE(accessible->role(), QAccessible::Window);
  QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Tavrin"));
  const Qt::WindowFlags flags = window.windowFlags();
  QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
  QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
  QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
  const QPoint offCentre = window.geometry().center() - screen.center();
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
  // No control beyond the design's (the file dialog is a window of its own).
  const auto children = window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  QCOMPARE(std::ranges::count_if(children, [](const QWidget* child) { return !child->isWindow(); }),
           std::ssize(kDesign));
  // No default button, and no caption with an access key.
  for (auto* button : window.findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
    QVERIFY(!button->isDefault());
    QVERIFY(!button->autoDefault());
  }
  for (auto* button : window.findChildren<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly))
    QVERIFY(!button->text().contains(QLatin1Char('&')));
  for (auto* label : window.findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
    QVERIFY(!label->text().contains(QLatin1Char('&')));
}

void WindowTest::tabOrder_data() {
  QTest::addColumn<bool>("backwards");
  QTest::newRow("Tab") << false;
  QTest::newRow("Shift+Tab") << true;
}

void WindowTest::tabOrder() {
  QFETCH(bool, backwards);
  // The controls that take the focus, by tab index.
  std::vector<DesignedControl> focusable;
  std::ranges::copy_if(kDesign, std::back_inserter(focusable), [](const DesignedControl& c) {
    return std::string_view(c.kind) != "QLabel" && std::string_view(c.kind) != "QStatusBar";
  });
  std::ranges::sort(focusable, {}, &DesignedControl::tabIndex);
  QStringList order;
  for (const DesignedControl& c : focusable) order.append(QLatin1String(c.name));
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
                         << QByteArray("EMail1\r\na\r\nb\r\nc\r\n") << "3 - \u2068c\u2069"
                         << ",";
  QTest::newRow("separator trimmed") << QByteArray("x ; y\n") << " ; " << false
                                     << QByteArray("EMail1\r\nx\r\ny\r\n") << "2 - \u2068y\u2069"
                                     << ";";
  QTest::newRow("blank separator") << QByteArray("p,q\n") << "   " << false
                                   << QByteArray("EMail1\r\np\r\nq\r\n") << "2 - \u2068q\u2069"
                                   << ",";
  QTest::newRow("unbuild")
      << QByteArray("\"Doe, John\" <john@example.com>;\"Acme Inc\" <sales@acme.example>\n") << ";" << true
      << QByteArray("DisplayName,EMail1\r\nJohn Doe,john@example.com\r\nPartner,sales@acme.example\r\n")
      << "2 - \u2068\"Acme Inc\" <sales@acme.example>\u2069"
      << ";";
  QTest::newRow("non-ASCII") << QByteArray("\xc3\xa9t\xc3\xa9,\xe2\x82\xac\n") << "," << false
                             << QByteArray("EMail1\r\n\xc3\xa9t\xc3\xa9\r\n\xe2\x82\xac\r\n")
                             << QString::fromUtf8("2 - \u2068\xe2\x82\xac\u2069") << ",";
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
  const QString lineReport = "^Error processing line: \u2068\"Last\",a@b\\.c\u2069\nDescription: " + einval +
                             "\nNumber: " + QString::number(EINVAL) + "$";

  QTest::newRow("run report") << QByteArray("(none)") << false
                              << "^.*IN.*" + QRegularExpression::escape(strerror(ENOENT)) + "\\(" +
                                     QString::number(ENOENT) + "\\)$"
                              << int(QMessageBox::NoIcon) << "Tavrin" << int(QMessageBox::Ok)
                              << int(QMessageBox::NoButton) << "" << int(QMessageBox::Ok)
                              << QByteArray("(no file)") << "";
  QTest::newRow("line report, Yes by Return")
      << lineFails << true << lineReport << int(QMessageBox::Question) << "Tavrin"
      << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::Yes) << "1 - \u2068\"Last\"\u2069"
      << int(QMessageBox::NoButton) << QByteArray("DisplayName,EMail1\r\nJohn Doe,john@example.com\r\n")
      << "2 - \u2068\"Doe, John\" <john@example.com>\u2069";
  QTest::newRow("line report, Yes") << lineFails << true << lineReport << int(QMessageBox::Question)
                                    << "Tavrin" << int(QMessageBox::Yes | QMessageBox::No)
                                    << int(QMessageBox::Yes) << "1 - \u2068\"Last\"\u2069"
                                    << int(QMessageBox::Yes)
                                    << QByteArray("DisplayName,EMail1\r\nJohn Doe,john@example.com\r\n")
                                    << "2 - \u2068\"Doe, John\" <john@example.com>\u2069";
  QTest::newRow("line report, No") << lineFails << true << lineReport << int(QMessageBox::Question)
                                   << "Tavrin" << int(QMessageBox::Yes | QMessageBox::No)
                                   << int(QMessageBox::Yes) << "1 - \u2068\"Last\"\u2069"
                                   << int(QMessageBox::No) << QByteArray() << "1 - \u2068\"Last\"\u2069";
  QTest::newRow("line report, markup shown as text")
      << QByteArray("\"<b>x</b>\"\n") << true
      << "^Error processing line: \u2068\"<b>x</b>\"\u2069\nDescription: " << int(QMessageBox::Question)
      << "Tavrin" << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::Yes)
      << "1 - \u2068\"<b>x</b>\"\u2069" << int(QMessageBox::No) << QByteArray()
      << "1 - \u2068\"<b>x</b>\"\u2069";
  QTest::newRow("warning")
      << QByteArray("x,\"open\nlast\n") << false
      << "^Error: " + einval + ": a quote stays open to the end of line 1, which begins \u2068x,\"open\u2069$"
      << int(QMessageBox::Warning) << "Tavrin" << int(QMessageBox::Ok) << int(QMessageBox::NoButton) << ""
      << int(QMessageBox::Ok) << QByteArray("EMail1\r\nlast\r\n") << "1 - \u2068last\u2069";
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
  QVERIFY(shown.startsWith(QStringLiteral("Error processing line: \u2068\"Last\",xxxx")));
  QVERIFY(shown.contains(QStringLiteral("xxx\u2069\n[\u2026]\n\u2068xxx")));
  QVERIFY(
      shown.endsWith("xxx\u2069\nDescription: " + strerror(EINVAL) + "\nNumber: " + QString::number(EINVAL)));
}

// Lines that would make a box larger than the screen. A line separator of
// the input, shown escaped, is six characters without a break opportunity.
const QByteArray kSeparatorLine = "\"Jane" + QByteArray("\xE2\x80\xA8").repeated(3) +
                                  "Description: Done. Every recipient was written." +
                                  "\xE2\x80\xA8Number: 0" + QByteArray("\xE2\x80\xA8").repeated(60) + "end\"";

void WindowTest::boxFitsTheScreen_data() {
  QTest::addColumn<double>("pointSize");
  QTest::addColumn<QByteArray>("line");  // of the input, which fails or warns
  QTest::addColumn<bool>("unbuild");
  const std::pair<const char*, QByteArray> lines[] = {
      {"line separators", kSeparatorLine},
      {"600 line separators", "\"" + QByteArray("\xE2\x80\xA8").repeated(600) + "\""},
      {"1,135 bytes without a blank", "\"" + QByteArray(1133, 'x') + "\""},
      {"a 100 MB line without a blank", "\"" + QByteArray(100'000'000, 'x') + "\""},
  };
  for (const double pointSize : {8.0, 16.0, 40.0}) {
    for (const auto& [name, line] : lines) {
      QTest::addRow("line report, %s, %g pt", name, pointSize) << pointSize << line << true;
      QTest::addRow("warning, %s, %g pt", name, pointSize) << pointSize << "a," + line.chopped(1) << false;
    }
  }
}

// The real box, shown on the screen: it and its buttons within the screen's
// free area, whatever the line and the font.
void WindowTest::boxFitsTheScreen() {
  QFETCH(double, pointSize);
  QFETCH(QByteArray, line);
  QFETCH(bool, unbuild);
  setInterfaceFont(pointSize);
  const QString inputPath = m_dir->filePath(QStringLiteral("in.txt"));
  write(inputPath, line + "\n");
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  int boxes = 0;
  window.setShowModal([&](QMessageBox& box) {
    ++boxes;
    box.show();
    if (!QTest::qWaitForWindowExposed(&box)) return int(QMessageBox::No);
    const QRect free = box.screen()->availableGeometry();
    [&] {
      QVERIFY2(free.contains(box.frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                  .arg(box.frameGeometry().x())
                                                                  .arg(box.frameGeometry().y())
                                                                  .arg(box.frameGeometry().width())
                                                                  .arg(box.frameGeometry().height())));
      for (QAbstractButton* button : box.buttons())
        QVERIFY(free.contains(QRect(button->mapToGlobal(QPoint()), button->size())));
    }();
    return int(QMessageBox::No);
  });
  process(window, inputPath, m_dir->filePath(QStringLiteral("out.txt")), QStringLiteral(","), unbuild);
  QCOMPARE(boxes, 1);
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
  QCOMPARE(statusText(window), QStringLiteral("4 - \u2068d\u2069"));

  process(window, second, outputPath, QStringLiteral(","), false);
  QCOMPARE(read(outputPath), kPlainHeader.toLatin1() + "z\r\n");
  QCOMPARE(statusText(window), QStringLiteral("1 - \u2068z\u2069"));
}

void WindowTest::enterAndEscape_data() {
  QTest::addColumn<QString>("focus");
  QTest::addColumn<int>("key");
  QTest::addColumn<QString>("reaction");

  // In a text box or on the check box, Enter starts nothing: there is no
  // default button. Esc closes nothing.
  for (const char* focus : {"txtInputFileName", "txtOutputFileName", "txtSeparator", "chkUnbuildMailTo",
                            "cmdProcess", "cmdClose", "cmdInputFile", "cmdOutputFile"}) {
    QTest::addRow("Escape on %s", focus) << focus << int(Qt::Key_Escape) << "";
    if (QByteArray(focus).startsWith("cmd")) continue;
    QTest::addRow("Return in %s", focus) << focus << int(Qt::Key_Return) << "";
    QTest::addRow("Enter in %s", focus) << focus << int(Qt::Key_Enter) << "";
  }
  // Enter presses the button that has the focus.
  QTest::newRow("Return on cmdProcess") << "cmdProcess" << int(Qt::Key_Return) << "run";
  QTest::newRow("Enter on cmdProcess") << "cmdProcess" << int(Qt::Key_Enter) << "run";
  QTest::newRow("Return on cmdInputFile") << "cmdInputFile" << int(Qt::Key_Return) << "open dialog";
  QTest::newRow("Return on cmdOutputFile") << "cmdOutputFile" << int(Qt::Key_Return) << "save dialog";
  QTest::newRow("Return on cmdClose") << "cmdClose" << int(Qt::Key_Return) << "closed";
}

void WindowTest::enterAndEscape() {
  QFETCH(QString, focus);
  QFETCH(int, key);
  QFETCH(QString, reaction);

  const QString inputPath = m_dir->filePath(QStringLiteral("in.txt"));
  const QString outputPath = m_dir->filePath(QStringLiteral("out.txt"));
  write(inputPath, "a\n");
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  type(control<QLineEdit>(window, "txtInputFileName"), inputPath);
  type(control<QLineEdit>(window, "txtOutputFileName"), outputPath);

  // Tabs to the control as a user would, then presses the key.
  for (int tabs = 0; tabs < 8 && QApplication::focusWidget()->objectName() != focus; ++tabs)
    QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget()->objectName(), focus);
  QString seen;
  QTimer dialogCloser;
  connect(&dialogCloser, &QTimer::timeout, [&] {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      seen = dialog->acceptMode() == QFileDialog::AcceptOpen ? "open dialog" : "save dialog";
      dialog->reject();
    }
  });
  dialogCloser.start(10);
  QTest::keyClick(window.windowHandle(), Qt::Key(key));

  if (QFile::exists(outputPath)) seen = "run";
  if (!window.isVisible()) seen = "closed";
  QCOMPARE(seen, reaction);
  QCOMPARE(statusText(window), reaction == "run" ? QStringLiteral("1 - \u2068a\u2069") : QString());
}

void WindowTest::fileDrop_data() {
  QTest::addColumn<QString>("target");
  QTest::addColumn<QByteArray>("address");  // FILE stands for the folder's file: address
  QTest::addColumn<QString>("textBox");     // the box that gets the path; "": none

  const QByteArray file = "FILE/Empf%C3%A4nger list %231.csv";
  QTest::newRow("on the input box") << "txtInputFileName" << file << "txtInputFileName";
  QTest::newRow("on the output box") << "txtOutputFileName" << file << "txtOutputFileName";
  QTest::newRow("on the separator box") << "txtSeparator" << file << "txtInputFileName";
  QTest::newRow("on a label") << "Label2" << file << "txtInputFileName";
  QTest::newRow("on a button") << "cmdProcess" << file << "txtInputFileName";
  QTest::newRow("on the check box") << "chkUnbuildMailTo" << file << "txtInputFileName";
  QTest::newRow("on the status bar") << "StatusBar1" << file << "txtInputFileName";
  // A name that is no UTF-8 text is not turned into another: its byte FF
  // would be read as U+FFFD, the name of another file.
  QTest::newRow("a name that is not UTF-8, on the output box")
      << "txtOutputFileName" << QByteArray("FILE/out%FF.csv") << "";
  QTest::newRow("a name with U+FFFD, on the output box")
      << "txtOutputFileName" << QByteArray("FILE/out%EF%BF%BD.csv") << "txtOutputFileName";
  // No box takes what is not a local file.
  for (const char* target : {"txtInputFileName", "txtOutputFileName", "txtSeparator", "Label2"})
    QTest::addRow("a web address, on %s", target)
        << target << QByteArray("http://example.com/list.txt") << "";
}

void WindowTest::fileDrop() {
  QFETCH(QString, target);
  QFETCH(QByteArray, address);
  QFETCH(QString, textBox);

  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QStringList boxes;
  window.setShowModal([&](QMessageBox& box) {
    boxes.append(box.text());
    return int(QMessageBox::Ok);
  });
  auto* input = control<QLineEdit>(window, "txtInputFileName");
  auto* output = control<QLineEdit>(window, "txtOutputFileName");
  type(input, QStringLiteral("typed in.txt"));
  type(output, QStringLiteral("typed out.txt"));

  const QUrl url = QUrl::fromEncoded(address.replace("FILE", QUrl::fromLocalFile(m_dir->path()).toEncoded()));
  const bool taken = drop(window, control<QWidget>(window, qPrintable(target)), url);

  const bool file = url.isLocalFile();
  QCOMPARE(taken, file);
  const QString path = url.toLocalFile();
  QCOMPARE(input->text(), textBox == "txtInputFileName" ? path : "typed in.txt");
  QCOMPARE(output->text(), textBox == "txtOutputFileName" ? path : "typed out.txt");
  QCOMPARE(control<QLineEdit>(window, "txtSeparator")->text(), QStringLiteral(","));
  QCOMPARE(statusText(window), QString());
  // A file that no box takes is refused with the reason.
  QCOMPARE(boxes.size(), file && textBox.isEmpty() ? 1 : 0);
  if (!boxes.isEmpty()) {
    QVERIFY2(boxes[0].contains(QLatin1String("out\\xff.csv")), qPrintable(boxes[0]));
    QVERIFY2(boxes[0].contains(QLatin1String("not UTF-8 text")), qPrintable(boxes[0]));
  }
}

void WindowTest::startWithoutDisplay_data() {
  // What QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY and XDG_SESSION_TYPE are
  // set to; "-": unset. Without a display the program says so; when the
  // window system fails otherwise, it says what Qt says.
  QTest::addColumn<QString>("platform");
  QTest::addColumn<QString>("display");
  QTest::addColumn<QString>("waylandDisplay");
  QTest::addColumn<QString>("session");
  QTest::addColumn<QStringList>("said");
  const QStringList noDisplay = {"needs a desktop session", "xvfb-run tavrin", "tavrin-cli"};
  QTest::newRow("unset") << "-"
                         << "-"
                         << "-"
                         << "-" << noDisplay;
  QTest::newRow("empty") << "-"
                         << ""
                         << ""
                         << "-" << noDisplay;
  QTest::newRow("a display that does not answer") << "-"
                                                  << ":73"
                                                  << "-"
                                                  << "-" << noDisplay;
  QTest::newRow("a Wayland display that leads nowhere") << "-"
                                                        << "-"
                                                        << "nowhere"
                                                        << "wayland" << noDisplay;
  QTest::newRow("a framebuffer that is not there, no screen") << "linuxfb:fb=/nonexistent"
                                                              << "-"
                                                              << "-"
                                                              << "-" << noDisplay;
  QTest::newRow("a platform that Qt does not have")
      << "foo"
      << "-"
      << "-"
      << "-" << QStringList{"tavrin: Could not find the Qt platform plugin \"foo\"", "no Qt platform plugin"};
}

void WindowTest::startWithoutDisplay() {
  QFETCH(QString, platform);
  QFETCH(QString, display);
  QFETCH(QString, waylandDisplay);
  QFETCH(QString, session);
  QFETCH(QStringList, said);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  // A session's own folder, which the Wayland library asks for before Qt
  // can tell that there is no display.
  environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir->path());
  const std::pair<const char*, QString> settings[] = {{"QT_QPA_PLATFORM", platform},
                                                      {"DISPLAY", display},
                                                      {"WAYLAND_DISPLAY", waylandDisplay},
                                                      {"XDG_SESSION_TYPE", session}};
  for (const auto& [name, value] : settings) {
    if (value == "-")
      environment.remove(QLatin1String(name));
    else
      environment.insert(QLatin1String(name), value);
  }
  QProcess program;
  program.setProcessEnvironment(environment);
  program.start(QStringLiteral(TAVRIN_PROGRAM), QStringList());
  QVERIFY(program.waitForFinished(10000));

  QCOMPARE(program.exitStatus(), QProcess::NormalExit);
  QCOMPARE(program.exitCode(), 2);
  QCOMPARE(program.readAllStandardOutput(), QByteArray());
  const QString message = QString::fromUtf8(program.readAllStandardError());
  QVERIFY2(message.startsWith(QLatin1String("tavrin: ")), qPrintable(message));
  for (const QString& part : said) QVERIFY2(message.contains(part), qPrintable(message));
  // Qt's words that are not the answer are held back.
  QVERIFY2(!message.contains(QLatin1String("qt.qpa")), qPrintable(message));
  if (said.contains(QLatin1String("xvfb-run tavrin")))
    QVERIFY2(message.count(QLatin1Char('\n')) <= 2, qPrintable(message));
}

void WindowTest::aliveDuringRun() {
  const QString pipe = m_dir->filePath(QStringLiteral("pipe"));
  const QString outputPath = m_dir->filePath(QStringLiteral("out.txt"));
  SlowPipe input(pipe);
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));

  // The run waits for its input until a timer of the window's thread has
  // fired three times: the window handles its events meanwhile.
  int ticks = 0;
  QTimer ticker;
  connect(&ticker, &QTimer::timeout, [&] {
    if (++ticks == 3) input.send("a\n");
  });
  ticker.start(10);
  process(window, pipe, outputPath, QStringLiteral(","), false);
  QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
  QCOMPARE(read(outputPath), kPlainHeader.toLatin1() + "a\r\n");
}

void WindowTest::inputDuringRun_data() {
  QTest::addColumn<QString>("input");
  QTest::newRow("a second click on Process") << "click";
  QTest::newRow("typing into the separator box") << "type";
  QTest::newRow("a file dropped on the input box") << "drop";
  QTest::newRow("the close box") << "close";
  QTest::newRow("the close box while blank lines come") << "close while blank";
}

// While a run waits for its input, the user acts on the window.
void WindowTest::inputDuringRun() {
  QFETCH(QString, input);
  const QString pipe = m_dir->filePath(QStringLiteral("pipe"));
  const QString other = m_dir->filePath(QStringLiteral("other.txt"));
  const QString outputPath = m_dir->filePath(QStringLiteral("out.txt"));
  write(other, "z@q.r\n");
  write(outputPath, "from before");
  SlowPipe feed(pipe);
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  auto* txtInputFileName = control<QLineEdit>(window, "txtInputFileName");
  auto* txtSeparator = control<QLineEdit>(window, "txtSeparator");

  // Enough lines without a recipient to keep a run busy for a while; the
  // window has no other reason to look at its events than the run's pace.
  const QString blank = m_dir->filePath(QStringLiteral("blank.txt"));
  if (input == "close while blank") write(blank, QByteArray(",\n").repeated(30'000'000));
  bool actedDuringRun = false;
  QTimer::singleShot(50, &window, [&] {
    actedDuringRun = true;
    if (input == "click") QTest::mouseClick(control<QPushButton>(window, "cmdProcess"), Qt::LeftButton);
    if (input == "type") QTest::keyClicks(txtSeparator, QStringLiteral(";"));
    if (input == "drop") dropFile(window, txtInputFileName, other);
    // A close request stops the run, which would otherwise wait for ever.
    if (input.startsWith("close"))
      window.windowHandle()->close();
    else
      feed.send("a,b\n");
  });
  process(window, input == "close while blank" ? blank : pipe, outputPath, QStringLiteral(","), false);
  QVERIFY(actedDuringRun);

  if (input.startsWith("close")) {
    QVERIFY(!window.isVisible());
    QVERIFY(!QFile::exists(outputPath));  // the output that the run created, and nothing else
    return;
  }
  // Nothing of it comes back after the run either.
  txtInputFileName->setText(other);
  QTest::qWait(100);
  QVERIFY(window.isVisible());
  QCOMPARE(read(outputPath), kPlainHeader.toLatin1() + "a\r\nb\r\n");
  QCOMPARE(txtSeparator->text(), QStringLiteral(","));
  QCOMPARE(txtInputFileName->text(), other);
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
  // (on other files, so that one would show).
  int boxes = 0;
  const auto watch = onNextModal([&](QWidget* modal) {
    ++boxes;
    control<QLineEdit>(window, "txtInputFileName")->setText(otherInput);
    control<QLineEdit>(window, "txtOutputFileName")->setText(otherOutput);
    control<QPushButton>(window, "cmdProcess")->click();
    QTest::mouseClick(control<QPushButton>(window, "cmdProcess"), Qt::LeftButton);
    QVERIFY(!QFile::exists(otherOutput));
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

// As a window manager asks a window to close, on X11.
void sendCloseRequest(WId window) {
  xcb_connection_t* const connection =
      qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
  const auto atom = [&](std::string_view name) {
    xcb_intern_atom_reply_t* const reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, name.size(), name.data()), nullptr);
    const xcb_atom_t found = reply->atom;
    std::free(reply);
    return found;
  };
  xcb_client_message_event_t request{};
  request.response_type = XCB_CLIENT_MESSAGE;
  request.format = 32;
  request.window = static_cast<xcb_window_t>(window);
  request.type = atom("WM_PROTOCOLS");
  request.data.data32[0] = atom("WM_DELETE_WINDOW");
  request.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(connection, 0, request.window, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&request));
  xcb_flush(connection);
}

void WindowTest::closeRequestDuringBox_data() {
  QTest::addColumn<QByteArray>("input");
  QTest::addColumn<bool>("unbuild");
  QTest::addColumn<QString>("closed");  // "window", "box"
  const QByteArray question = "\"Jane\"\nx@y.z\n";
  const QByteArray warnings = QByteArray("a0@x.org, \"Jane0 <j0@x.org>\n").repeated(10'000);
  QTest::newRow("the window, a line report") << question << true << "window";
  QTest::newRow("the window, a warning") << warnings << false << "window";
  QTest::newRow("the box, a line report") << question << true << "box";
  QTest::newRow("the box, a warning") << warnings << false << "box";
}

// A close request while a run's box is up: the box stays until it is
// answered or closed, and then the run stops as for a close during the run,
// removing the output it created, and the program ends. Qt drops the window
// manager's close request for a window that a box blocks: the window keeps it.
void WindowTest::closeRequestDuringBox() {
  QFETCH(QByteArray, input);
  QFETCH(bool, unbuild);
  QFETCH(QString, closed);
  if (closed == "window" && QGuiApplication::platformName() != QLatin1String("xcb"))
    QSKIP("needs an X11 display: the test ui_window_test_x11 runs it under Xvfb");
  const QString inputPath = m_dir->filePath(QStringLiteral("in.txt"));
  const QString outputPath = m_dir->filePath(QStringLiteral("out.txt"));
  write(inputPath, input);
  FrmTavrin window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));

  int boxes = 0;
  bool boxStayed = false;
  window.setShowModal([&](QMessageBox& box) {
    if (++boxes > 1)
      return int(box.standardButtons().testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok);
    box.show();
    if (!QTest::qWaitForWindowExposed(&box)) return int(QMessageBox::No);
    if (closed == "window") {
      sendCloseRequest(window.winId());
      QTest::qWait(300);
      boxStayed = box.isVisible();
      return int(unbuild ? QMessageBox::Yes : QMessageBox::Ok);
    }
    box.windowHandle()->close();
    boxStayed = true;
    return box.result();
  });
  process(window, inputPath, outputPath, QStringLiteral(","), unbuild);
  QVERIFY(boxStayed);
  QCOMPARE(boxes, 1);
  QVERIFY(!window.isVisible());
  QVERIFY(!QFile::exists(outputPath));
}

}  // namespace tavrin

QTEST_MAIN(tavrin::WindowTest)
#include "ui_window_test.moc"
