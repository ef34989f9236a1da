#include "ui/frm_tavrin.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "engine/conversion_run.hpp"
#include "engine/text.hpp"
#include "ui/common_dialog.hpp"
#include "version.hpp"

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

namespace tavrin {

namespace {

using namespace std::chrono_literals;

// One display frame: the status bar is not painted more often than this.
constexpr auto kFrameTime = 16ms;

// The design is measured in twips and was drawn for an 8-point interface font
// at 96 dots per inch, where 15 twips make a pixel. A larger interface font
// enlarges the whole design by the same ratio, so that every caption keeps its
// room, as far as the window, frame included, still fits the screen; a
// smaller one leaves the design as drawn. Qt's own high-DPI scaling comes on
// top of this.
constexpr int kTwipsPerPixel = 15;
constexpr double kDesignPointSize = 8.0;
constexpr QSize kDesignPixels(5685 / kTwipsPerPixel, 2955 / kTwipsPerPixel);

class DesignScale {
 public:
  DesignScale(const QFont& font, const QRect& screen)
      : m_factor(std::max(1.0, std::min(pointSize(font) / kDesignPointSize, fittingFactor(font, screen)))) {}

  QRect pixels(int left, int top, int width, int height) const {
    return QRect(pixels(left), pixels(top), pixels(width), pixels(height));
  }

 private:
  int pixels(int twips) const { return qRound(twips * m_factor / kTwipsPerPixel); }

  // The size asked for, not the whole pixels that the screen gives it: an
  // 8-point font must leave the design as drawn.
  static double pointSize(const QFont& font) {
    return font.pointSizeF() > 0 ? font.pointSizeF() : QFontInfo(font).pointSizeF();
  }

  // The largest factor at which the window fits the screen's free area. The
  // window manager's frame is not known before the window is shown: its
  // title bar is taken as twice the font's height, its borders as half each.
  static double fittingFactor(const QFont& font, const QRect& screen) {
    const int line = QFontMetrics(font).height();
    const QSize room = screen.size() - QSize(line, 3 * line);
    return std::min(double(room.width()) / kDesignPixels.width(),
                    double(room.height()) / kDesignPixels.height());
  }

  double m_factor;
};

// The panel shows one short line; a token can be as long as its input line.
constexpr std::size_t kPanelTextMax = 1000;

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A message box would lay out all of a hundred-megabyte line.
QString boxText(std::string_view text) {
  QString shown = fromUtf8(shortenForDisplay(text));
  // A carriage return would make a paragraph of its own in the box.
  return shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QMessageBox::StandardButton showBox(QWidget* window, QMessageBox::Icon icon, std::string_view title,
                                    std::string_view text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) {
  QMessageBox box(icon, fromUtf8(title), boxText(text), buttons, window);
  // The text quotes input lines, which may hold anything that looks like markup.
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(defaultButton);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

// A caption in a font wider than the one the design was drawn for, or in a
// design that could not grow with its font, is narrowed until it fits. A
// button's caption needs room inside its frame, not the style's least width.
void narrowToFit(QWidget* control) {
  auto needed = [control] {
    if (auto* button = qobject_cast<QPushButton*>(control))
      return button->fontMetrics().horizontalAdvance(button->text()) + 8;
    return control->sizeHint().width();
  };
  QFont narrowed = control->font();
  for (int stretch = 95; stretch >= 50 && needed() > control->width(); stretch -= 5) {
    narrowed.setStretch(stretch);
    control->setFont(narrowed);
  }
}

QLabel* makeLabel(QWidget* window, const char* name, const QString& caption, QRect geometry) {
  auto* label = new QLabel(caption, window);
  label->setObjectName(QLatin1String(name));
  label->setGeometry(geometry);
  return label;
}

QLineEdit* makeTextBox(QWidget* window, const char* name, const QString& text, QRect geometry,
                       const QString& accessibleName) {
  auto* textBox = new QLineEdit(text, window);
  textBox->setObjectName(QLatin1String(name));
  textBox->setGeometry(geometry);
  textBox->setAccessibleName(accessibleName);
  // No limit on length: Qt's default would cut texts at 32767 characters.
  textBox->setMaxLength(std::numeric_limits<int>::max());
  return textBox;
}

QPushButton* makeButton(QWidget* window, const char* name, const QString& caption, QRect geometry,
                        const QString& accessibleName) {
  auto* button = new QPushButton(caption, window);
  button->setObjectName(QLatin1String(name));
  button->setGeometry(geometry);
  button->setAccessibleName(accessibleName);
  // No default button: Enter in a text box presses nothing. Enter on a
  // focused button presses that button (see eventFilter).
  button->setAutoDefault(false);
  button->installEventFilter(window);
  return button;
}

bool isEnter(const QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const int key = static_cast<const QKeyEvent*>(event)->key();
  return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// Keys, clicks, wheels and drops: what a user does, as opposed to what the
// window system asks of the window (paint, close, a screen reader's query).
bool isUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

// Screen readers take a window for a frame of its own only with this role,
// which Qt gives no top-level QWidget by itself.
QAccessibleInterface* accessibleWindow(const QString&, QObject* object) {
  auto* window = dynamic_cast<FrmTavrin*>(object);
  return window != nullptr ? new QAccessibleWidget(window, QAccessible::Window) : nullptr;
}

// The local path of a file dragged from a file manager, or an empty text for
// anything else (plain text, a web address).
QString droppedFile(const QMimeData* data) {
  const QList<QUrl> urls = data->urls();
  return !urls.isEmpty() && urls.first().isLocalFile() ? urls.first().toLocalFile() : QString();
}

}  // namespace

FrmTavrin::FrmTavrin(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("frmTavrin"));
  setWindowTitle(QString::fromUtf8(kProductName));
  QIcon icon;
  icon.addFile(QStringLiteral(":/icons/tavrin-32x32-16.png"));
  icon.addFile(QStringLiteral(":/icons/tavrin-32x32-2.png"));
  icon.addFile(QStringLiteral(":/icons/tavrin-16x16-16.png"));
  for (int size : {48, 64, 128, 256}) icon.addFile(QStringLiteral(":/icons/tavrin-%1x%1.png").arg(size));
  setWindowIcon(icon);
  static const bool accessibleAsWindow = (QAccessible::installFactory(accessibleWindow), true);
  (void)accessibleAsWindow;
  // The user's interface font, and the design enlarged to match it.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const DesignScale twips(font(), screen);

  Label1 = makeLabel(this, "Label1", QStringLiteral("Input Filename:"), twips.pixels(120, 300, 1575, 255));
  txtInputFileName = makeTextBox(this, "txtInputFileName", QString(), twips.pixels(1740, 300, 2775, 285),
                                 QStringLiteral("Input file name"));
  cmdInputFile = makeButton(this, "cmdInputFile", QStringLiteral("Browse..."),
                            twips.pixels(4560, 300, 1035, 285), QStringLiteral("Browse for the input file"));
  Label2 = makeLabel(this, "Label2", QStringLiteral("Output Filename:"), twips.pixels(120, 690, 1575, 255));
  txtOutputFileName = makeTextBox(this, "txtOutputFileName", QString(), twips.pixels(1740, 690, 2775, 285),
                                  QStringLiteral("Output file name"));
  cmdOutputFile =
      makeButton(this, "cmdOutputFile", QStringLiteral("Browse..."), twips.pixels(4560, 690, 1035, 285),
                 QStringLiteral("Browse for the output file"));
  Label3 = makeLabel(this, "Label3", QStringLiteral("Separator:"), twips.pixels(120, 1080, 1575, 255));
  txtSeparator = makeTextBox(this, "txtSeparator", QStringLiteral(","), twips.pixels(1740, 1080, 315, 285),
                             QStringLiteral("Separator"));
  // Ties each label to its box for screen readers; without an '&' in the
  // caption this makes no access key.
  Label1->setBuddy(txtInputFileName);
  Label2->setBuddy(txtOutputFileName);
  Label3->setBuddy(txtSeparator);
  // Drops of files on the text boxes are the window's (see eventFilter).
  for (QLineEdit* textBox : {txtInputFileName, txtOutputFileName, txtSeparator})
    textBox->installEventFilter(this);
  setAcceptDrops(true);

  chkUnbuildMailTo = new QCheckBox(QStringLiteral("\"Name\" <name@example.com>"), this);
  chkUnbuildMailTo->setObjectName(QStringLiteral("chkUnbuildMailTo"));
  chkUnbuildMailTo->setGeometry(twips.pixels(1740, 1440, 2715, 315));
  // The caption is only a sample of what the box unpacks.
  chkUnbuildMailTo->setAccessibleName(QStringLiteral("Unpack names and addresses"));

  cmdProcess = makeButton(this, "cmdProcess", QStringLiteral("Process"), twips.pixels(1740, 2100, 1035, 345),
                          QStringLiteral("Process"));
  cmdClose = makeButton(this, "cmdClose", QStringLiteral("Close"), twips.pixels(2880, 2100, 1035, 345),
                        QStringLiteral("Close"));

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setGeometry(twips.pixels(0, 2700, 5685, 255));
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setAccessibleName(QStringLiteral("Status"));
  m_statusPanel = new QLabel(StatusBar1);
  m_statusPanel->setObjectName(QStringLiteral("Panel1"));
  m_statusPanel->setTextFormat(Qt::PlainText);
  m_statusPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  // The panel fills the bar. Added to the bar's own layout it would lose five
  // pixels of the bar's height to spacing and cut the descenders of g, j, p,
  // q and y. A long text is cut off at the panel's edge.
  m_statusPanel->setGeometry(StatusBar1->rect());

  CommonDialog1 = new CommonDialog(this);
  for (QWidget* captioned : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                             static_cast<QWidget*>(Label3), static_cast<QWidget*>(chkUnbuildMailTo),
                             static_cast<QWidget*>(cmdInputFile), static_cast<QWidget*>(cmdOutputFile),
                             static_cast<QWidget*>(cmdProcess), static_cast<QWidget*>(cmdClose)})
    narrowToFit(captioned);

  m_separator = txtSeparator->text().toStdString();
  connect(txtSeparator, &QLineEdit::textChanged, this,
          [this](const QString& text) { m_separator = text.toStdString(); });

  QWidget::setTabOrder(txtInputFileName, txtOutputFileName);
  QWidget::setTabOrder(txtOutputFileName, cmdProcess);
  QWidget::setTabOrder(cmdProcess, txtSeparator);
  QWidget::setTabOrder(txtSeparator, chkUnbuildMailTo);
  QWidget::setTabOrder(chkUnbuildMailTo, cmdInputFile);
  QWidget::setTabOrder(cmdInputFile, cmdOutputFile);
  QWidget::setTabOrder(cmdOutputFile, cmdClose);
  txtInputFileName->setFocus();

  connect(cmdInputFile, &QPushButton::clicked, this, &FrmTavrin::cmdInputFileClick);
  connect(cmdOutputFile, &QPushButton::clicked, this, &FrmTavrin::cmdOutputFileClick);
  connect(cmdProcess, &QPushButton::clicked, this, &FrmTavrin::cmdProcessClick);
  connect(cmdClose, &QPushButton::clicked, this, &FrmTavrin::close);

  const QSize clientSize = twips.pixels(0, 0, 5685, 2955).size();
  setFixedSize(clientSize);
  setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, clientSize, screen));
}

FrmTavrin::~FrmTavrin() = default;

std::string FrmTavrin::GetSeparator() {
  return m_separator;
}

void FrmTavrin::SetSeparator(std::string_view text) {
  txtSeparator->setText(fromUtf8(text));
}

std::string FrmTavrin::GetInputFileName() {
  return txtInputFileName->text().toStdString();
}

std::string FrmTavrin::GetOutputFileName() {
  return txtOutputFileName->text().toStdString();
}

bool FrmTavrin::IsUnbuildChecked() {
  return chkUnbuildMailTo->isChecked();
}

void FrmTavrin::SetStatusText(std::string_view text) {
  m_statusText.assign(text);
}

std::chrono::steady_clock::duration FrmTavrin::statusInterval() {
  return kFrameTime;
}

void FrmTavrin::RefreshStatus() {
  showStatus();
}

void FrmTavrin::ShowMessage(std::string_view text) {
  showStatus();
  showBox(this, QMessageBox::NoIcon, kProductName, text, QMessageBox::Ok);
}

bool FrmTavrin::AskYesNo(std::string_view text) {
  showStatus();
  return showBox(this, QMessageBox::Question, kProductName, text, QMessageBox::Yes | QMessageBox::No,
                 QMessageBox::Yes) == QMessageBox::Yes;
}

void FrmTavrin::ShowWarning(std::string_view text, std::string_view title) {
  showStatus();
  showBox(this, QMessageBox::Warning, title, text, QMessageBox::Ok);
}

bool FrmTavrin::keepGoing() {
  // Paint, the window manager's ping and close request, a screen reader's
  // query: the window stays alive. Input is dropped meanwhile (eventFilter).
  QCoreApplication::processEvents();
  return !m_closeRequested;
}

#if QT_CONFIG(xcb)
namespace {

// Whether an X11 event is the window manager's request to close `window`.
bool isCloseRequest(const void* message, WId window) {
  const auto* event = static_cast<const xcb_client_message_event_t*>(message);
  if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE || event->window != window || event->format != 32)
    return false;
  static const xcb_atom_t deleteWindow = [] {
    constexpr std::string_view kName = "WM_DELETE_WINDOW";
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr) return xcb_atom_t{XCB_ATOM_NONE};
    xcb_connection_t* const connection = x11->connection();
    xcb_intern_atom_reply_t* const reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, kName.size(), kName.data()), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
  }();
  return deleteWindow != XCB_ATOM_NONE && event->data.data32[0] == deleteWindow;
}

}  // namespace
#endif

bool FrmTavrin::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
#if QT_CONFIG(xcb)
  // Qt drops a close request for a window that a message box blocks; one
  // during a run's question is kept here, and stops the run once it is answered.
  if (m_running && eventType == "xcb_generic_event_t" && isCloseRequest(message, winId()))
    m_closeRequested = true;
#endif
  return QWidget::nativeEvent(eventType, message, result);
}

void FrmTavrin::closeEvent(QCloseEvent* event) {
  // A close request during a run stops the run, which removes the output it
  // created; the window closes once the run has ended.
  if (m_running) {
    m_closeRequested = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void FrmTavrin::dragEnterEvent(QDragEnterEvent* event) {
  if (!droppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void FrmTavrin::dropEvent(QDropEvent* event) {
  // A file dropped anywhere but on a path box is the input.
  txtInputFileName->setText(droppedFile(event->mimeData()));
  event->acceptProposedAction();
}

bool FrmTavrin::isInputDuringRun(QObject* watched, const QEvent* event) const {
  if (!m_running || !isUserInput(event->type())) return false;
  const auto* widget = qobject_cast<const QWidget*>(watched);
  return watched == windowHandle() || (widget != nullptr && widget->window() == this);
}

bool FrmTavrin::eventFilter(QObject* watched, QEvent* event) {
  if (isInputDuringRun(watched, event)) return true;
  if (auto* button = qobject_cast<QPushButton*>(watched); button != nullptr && isEnter(event)) {
    button->click();
    return true;
  }
  auto* textBox = qobject_cast<QLineEdit*>(watched);
  if (textBox == nullptr) return QWidget::eventFilter(watched, event);
  // A file dropped on a text box would otherwise be pasted as a file:// web
  // address. On a path box it replaces the path; on the separator box it is
  // the input, as anywhere else on the window.
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (droppedFile(drag->mimeData()).isEmpty()) break;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QString path = droppedFile(drop->mimeData());
      if (path.isEmpty()) break;
      (textBox == txtSeparator ? txtInputFileName : textBox)->setText(path);
      drop->acceptProposedAction();
      return true;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void FrmTavrin::cmdInputFileClick() {
  if (CommonDialog1->showOpen()) txtInputFileName->setText(CommonDialog1->fileName());
}

void FrmTavrin::cmdOutputFileClick() {
  if (CommonDialog1->showSave()) txtOutputFileName->setText(CommonDialog1->fileName());
}

void FrmTavrin::cmdProcessClick() {
  // A click that reaches the button from inside one of the run's message boxes
  // must not start a second run.
  if (m_running) return;
  m_running = true;
  // The window takes no input while the run goes on, but for the answers to
  // the run's message boxes: what comes is dropped, not kept for later.
  qApp->installEventFilter(this);
  ConversionRun(*this);
  QCoreApplication::processEvents();
  qApp->removeEventFilter(this);
  m_running = false;
  showStatus();
  if (m_closeRequested) close();
}

void FrmTavrin::showStatus() {
  m_statusPanel->setText(fromUtf8(headOf(m_statusText, kPanelTextMax)));
  // Paints at once, without handling events: the run holds the thread.
  StatusBar1->repaint();
}

}  // namespace tavrin
