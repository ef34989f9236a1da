#include "ui/frm_tavrin.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
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
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "engine/text.hpp"
#include "ui/box_text.hpp"
#include "ui/common_dialog.hpp"
#include "ui/stored_design.hpp"
#include "version.hpp"

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

namespace tavrin {

namespace {

// The design is measured in twips and was drawn for an 8-point interface font
// at 96 dots per inch, where 15 twips make a pixel. A larger interface font
// enlarges the whole design by the same ratio, so that every caption keeps its
// room, as far as the window, frame included, still fits the screen; a
// smaller one leaves the design as drawn. Qt's own high-DPI scaling comes on
// top of this.
constexpr int kTwipsPerPixel = kTwipsPerInch / 96;
constexpr double kDesignPointSize = 8.0;
constexpr QSize kDesignPixels(kClientTwips.width / kTwipsPerPixel, kClientTwips.height / kTwipsPerPixel);

class DesignScale {
 public:
  DesignScale(const QFont& font, const QRect& screen)
      : m_factor(std::max(1.0, std::min(pointSize(font) / kDesignPointSize, fittingFactor(font, screen)))) {}

  QRect pixels(const Twips& twips) const {
    return QRect(pixels(twips.left), pixels(twips.top), pixels(twips.width), pixels(twips.height));
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

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The box's text, fitted to the free area of the window's screen (see
// fitBoxText). Up to half the screen's width, and 500 pixels, a message box
// is as wide as its widest line; its height Qt leaves unbounded. What the box
// takes beside its text (frame, icon, margins, buttons) is measured on the
// box itself, with a line of half that width.
QString fittedBoxText(QMessageBox& box, std::string_view text, const QWidget* window) {
  const QRect free = window->screen()->availableGeometry();
  auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  const QFontMetrics metrics = label->fontMetrics();
  // The window manager's frame, as it framed the window; without one shown
  // yet, a title bar of twice the font's height and borders of half of it.
  QSize frame = window->frameGeometry().size() - window->size();
  if (frame.isNull()) frame = QSize(metrics.height(), 3 * metrics.height());
  const int wrapsBeyond = std::min(free.width() / 2, 500);
  box.setText(QString(wrapsBeyond / 2 / std::max(1, metrics.horizontalAdvance(QLatin1Char('x'))), 'x'));
  const QSize besideText = box.sizeHint() - label->sizeHint();
  const int width =
      std::min(wrapsBeyond, free.width() - frame.width()) - besideText.width() - metrics.averageCharWidth();
  const int lines = (free.height() - frame.height() - besideText.height()) / metrics.lineSpacing();
  return fromUtf8(fitBoxText(text, width, lines, [&metrics](std::string_view character) {
    return metrics.horizontalAdvance(fromUtf8(character));
  }));
}

}  // namespace

int FrmTavrin::showMessageBox(QMessageBox::Icon icon, std::string_view title, std::string_view text,
                              QMessageBox::StandardButtons buttons,
                              QMessageBox::StandardButton defaultButton) {
  QMessageBox box(icon, fromUtf8(title), QString(), buttons, this);
  // The text quotes input lines, which may hold anything that looks like markup.
  box.setTextFormat(Qt::PlainText);
  box.setText(fittedBoxText(box, text, this));
  box.setDefaultButton(defaultButton);
  return m_showModal ? m_showModal(box) : box.exec();
}

void FrmTavrin::setShowModal(ShowModal showModal) {
  m_showModal = std::move(showModal);
}

namespace {

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

QLineEdit* makeTextBox(QWidget* window, const QString& text) {
  auto* textBox = new QLineEdit(text, window);
  // No limit on length: Qt's default would cut texts at 32767 characters.
  textBox->setMaxLength(std::numeric_limits<int>::max());
  // Drops of files on the text boxes are the window's (see eventFilter).
  textBox->installEventFilter(window);
  return textBox;
}

QPushButton* makeButton(QWidget* window, const QString& caption) {
  auto* button = new QPushButton(caption, window);
  // No default button: Enter in a text box presses nothing. Enter on a
  // focused button presses that button (see eventFilter).
  button->setAutoDefault(false);
  button->installEventFilter(window);
  return button;
}

QStatusBar* makeStatusBar(QWidget* window, const QSize& size) {
  auto* bar = new QStatusBar(window);
  bar->setSizeGripEnabled(false);
  auto* panel = new QLabel(bar);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setTextFormat(Qt::PlainText);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  // The panel fills the bar. Added to the bar's own layout it would lose five
  // pixels of the bar's height to spacing and cut the descenders of g, j, p,
  // q and y. A long text is cut off at the panel's edge.
  panel->setGeometry(QRect(QPoint(), size));
  return bar;
}

QWidget* newControl(QWidget* window, const StoredControl& c, const QRect& geometry) {
  const QString caption = fromUtf8(c.caption);
  switch (c.kind) {
    case ControlKind::Label:
      return new QLabel(caption, window);
    case ControlKind::TextBox:
      return makeTextBox(window, caption);
    case ControlKind::CheckBox:
      return new QCheckBox(caption, window);
    case ControlKind::Button:
      return makeButton(window, caption);
    case ControlKind::StatusBar:
      return makeStatusBar(window, geometry.size());
  }
  return nullptr;
}

// A control of the stored design, where the design puts it.
void makeControl(QWidget* window, const StoredControl& c, const QRect& geometry) {
  QWidget* control = newControl(window, c, geometry);
  control->setObjectName(fromUtf8(c.name));
  control->setGeometry(geometry);
  if (!namedByCaption(c)) control->setAccessibleName(fromUtf8(c.accessibleName));
  if (c.kind != ControlKind::TextBox && c.kind != ControlKind::StatusBar) narrowToFit(control);
}

template <typename T>
T* controlNamed(const QWidget* window, std::string_view name) {
  return window->findChild<T*>(fromUtf8(name), Qt::FindDirectChildrenOnly);
}

QIcon programIcon() {
  QIcon icon;
  icon.addFile(QStringLiteral(":/icons/tavrin-32x32-16.png"));
  icon.addFile(QStringLiteral(":/icons/tavrin-32x32-2.png"));
  icon.addFile(QStringLiteral(":/icons/tavrin-16x16-16.png"));
  for (int size : {48, 64, 128, 256}) icon.addFile(QStringLiteral(":/icons/tavrin-%1x%1.png").arg(size));
  return icon;
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

// The local file of a drop, by the exact bytes of its name: those of its
// address, not Qt's reading of them, which makes U+FFFD of every byte that is
// not UTF-8. Nothing for anything else (plain text, a web address).
std::optional<QByteArray> droppedFile(const QMimeData* data) {
  const QList<QUrl> urls = data->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return std::nullopt;
  return QByteArray::fromPercentEncoding(urls.first().path(QUrl::FullyEncoded).toLatin1());
}

}  // namespace

FrmTavrin::FrmTavrin(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("frmTavrin"));
  setWindowTitle(QString::fromUtf8(kProductName));
  setWindowIcon(programIcon());
  static const bool accessibleAsWindow = (QAccessible::installFactory(accessibleWindow), true);
  (void)accessibleAsWindow;
  // The user's interface font, and the design enlarged to match it.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const DesignScale twips(font(), screen);
  for (const StoredControl& c : kStoredDesign) makeControl(this, c, twips.pixels(c.twips));
  txtInputFileName = controlNamed<QLineEdit>(this, "txtInputFileName");
  cmdInputFile = controlNamed<QPushButton>(this, "cmdInputFile");
  txtOutputFileName = controlNamed<QLineEdit>(this, "txtOutputFileName");
  cmdOutputFile = controlNamed<QPushButton>(this, "cmdOutputFile");
  txtSeparator = controlNamed<QLineEdit>(this, "txtSeparator");
  chkUnbuildMailTo = controlNamed<QCheckBox>(this, "chkUnbuildMailTo");
  cmdProcess = controlNamed<QPushButton>(this, "cmdProcess");
  cmdClose = controlNamed<QPushButton>(this, "cmdClose");
  StatusBar1 = controlNamed<QStatusBar>(this, "StatusBar1");
  m_statusPanel = StatusBar1->findChild<QLabel*>(QStringLiteral("Panel1"));
  // Ties each label to its box for screen readers; without an '&' in the
  // caption this makes no access key.
  for (const StoredControl& c : kStoredDesign)
    if (!c.labelled.empty())
      controlNamed<QLabel>(this, c.name)->setBuddy(controlNamed<QWidget>(this, c.labelled));
  setAcceptDrops(true);  // files, anywhere on the window (see dropEvent)
  CommonDialog1 = new CommonDialog(this);

  connect(txtSeparator, &QLineEdit::textChanged, this,
          [this](const QString& text) { separatorChanged(text.toStdString()); });
  setFocusOrder();
  txtInputFileName->setFocus();
  connect(cmdInputFile, &QPushButton::clicked, this, &FrmTavrin::cmdInputFileClick);
  connect(cmdOutputFile, &QPushButton::clicked, this, &FrmTavrin::cmdOutputFileClick);
  connect(cmdProcess, &QPushButton::clicked, this, [this] { cmdProcessClick(); });
  connect(cmdClose, &QPushButton::clicked, this, &FrmTavrin::close);

  const QSize clientSize = twips.pixels(kClientTwips).size();
  setFixedSize(clientSize);
  setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, clientSize, screen));
}

FrmTavrin::~FrmTavrin() = default;

void FrmTavrin::setFocusOrder() {
  QWidget* previous = nullptr;
  for (const StoredControl& c : inTabOrder()) {
    if (!takesFocus(c.kind)) continue;
    QWidget* const next = controlNamed<QWidget>(this, c.name);
    if (previous != nullptr) QWidget::setTabOrder(previous, next);
    previous = next;
  }
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

void FrmTavrin::showPanel(std::string_view text) {
  m_statusPanel->setText(fromUtf8(text));
  // Paints at once, without handling events: the run holds the thread.
  StatusBar1->repaint();
}

bool FrmTavrin::showBox(Box box, std::string_view title, std::string_view text) {
  if (box == Box::Question) {
    return showMessageBox(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No,
                          QMessageBox::Yes) == QMessageBox::Yes;
  }
  showMessageBox(box == Box::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, title, text,
                 QMessageBox::Ok, QMessageBox::NoButton);
  return false;
}

void FrmTavrin::handlePendingEvents() {
  // Paint, the window manager's ping and close request, a screen reader's
  // query: the window stays alive. Input is dropped meanwhile (eventFilter).
  QCoreApplication::processEvents();
}

void FrmTavrin::dropInput(bool drop) {
  // What comes during a run is dropped, not kept for later.
  if (drop) {
    qApp->installEventFilter(this);
  } else {
    qApp->removeEventFilter(this);
  }
}

void FrmTavrin::closeNow() {
  close();
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
  if (running() && eventType == "xcb_generic_event_t" && isCloseRequest(message, winId())) closeWaitsForRun();
#endif
  return QWidget::nativeEvent(eventType, message, result);
}

void FrmTavrin::closeEvent(QCloseEvent* event) {
  if (closeWaitsForRun()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void FrmTavrin::dragEnterEvent(QDragEnterEvent* event) {
  if (droppedFile(event->mimeData())) event->acceptProposedAction();
}

void FrmTavrin::dropEvent(QDropEvent* event) {
  // A file dropped anywhere but on a path box is the input.
  takeDroppedFile(txtInputFileName, event);
}

void FrmTavrin::takeDroppedFile(QLineEdit* textBox, QDropEvent* event) {
  const std::optional<QByteArray> name = droppedFile(event->mimeData());
  if (!name) return;
  event->acceptProposedAction();
  const std::string_view bytes(name->constData(), static_cast<std::size_t>(name->size()));
  if (isWellFormed(bytes, TextForm::Utf8)) {
    textBox->setText(QString::fromUtf8(*name));
  } else {
    refuseFileName(bytes, false);
  }
}

void FrmTavrin::takeChosenFile(QLineEdit* textBox) {
  const QString name = CommonDialog1->fileName();
  if (name.contains(QChar::ReplacementCharacter)) {
    refuseFileName(name.toStdString(), true);
  } else {
    textBox->setText(name);
  }
}

// The window system's close of a run's box (its close box, Alt+F4, the
// window manager's close) closes the box as its Esc would, and asks the
// program to close as well, once the box is answered. A box that closes
// itself for an answer has the answer already.
bool FrmTavrin::isCloseOfRunsBox(const QObject* watched, const QEvent* event) const {
  if (!running() || event->type() != QEvent::Close || !event->spontaneous() || !watched->isWindowType())
    return false;
  const auto* box = qobject_cast<const QMessageBox*>(QApplication::activeModalWidget());
  return box != nullptr && box->windowHandle() == watched && box->parentWidget() == this &&
         box->result() == 0;
}

bool FrmTavrin::isInputDuringRun(QObject* watched, const QEvent* event) const {
  if (!running() || !isUserInput(event->type())) return false;
  const auto* widget = qobject_cast<const QWidget*>(watched);
  return watched == windowHandle() || (widget != nullptr && widget->window() == this);
}

bool FrmTavrin::eventFilter(QObject* watched, QEvent* event) {
  if (isInputDuringRun(watched, event)) return true;
  if (isCloseOfRunsBox(watched, event)) closeWaitsForRun();
  if (auto* button = qobject_cast<QPushButton*>(watched); button != nullptr && isEnter(event)) {
    button->click();
    return true;
  }
  auto* textBox = qobject_cast<QLineEdit*>(watched);
  if (textBox == nullptr) return QWidget::eventFilter(watched, event);
  // A text box takes no drop of its own: a file's would be pasted as a
  // file:// web address, anything else (a web address, text) spliced into
  // the text. A file dropped on a path box replaces the path; on the
  // separator box it is the input, as anywhere else on the window.
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (droppedFile(drag->mimeData())) {
        drag->acceptProposedAction();
      } else {
        drag->ignore();
      }
      return true;
    }
    case QEvent::Drop:
      takeDroppedFile(textBox == txtSeparator ? txtInputFileName : textBox, static_cast<QDropEvent*>(event));
      return true;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void FrmTavrin::cmdInputFileClick() {
  if (CommonDialog1->showOpen()) takeChosenFile(txtInputFileName);
}

void FrmTavrin::cmdOutputFileClick() {
  if (CommonDialog1->showSave()) takeChosenFile(txtOutputFileName);
}

}  // namespace tavrin
