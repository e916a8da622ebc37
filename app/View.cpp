#include "View.h"

#include "Main.h"
#include "RowTexts.h"
#include "TextLines.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWindow>

#include <memory>

namespace postvue {

namespace {
// Memo keeps these distances to the window's edges; Button1 keeps its size and
// its distances to the right and bottom edges.
constexpr int kMemoLeft = 15, kMemoTop = 14, kMemoRight = 15, kMemoBottom = 44;
constexpr int kButtonWidth = 75, kButtonHeight = 25, kButtonRight = 12, kButtonBottom = 9;
} // namespace

Twnd_oe_View::Twnd_oe_View(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QStringLiteral("Message Data"));
  setSizeGripEnabled(false);

  Memo = new QPlainTextEdit(this);
  Memo->setReadOnly(true);
  QFont memoFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  memoFont.setPixelSize(11);
  Memo->setFont(memoFont);
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

  Button1 = new QPushButton(QStringLiteral("Close"), this);
  Button1->setCursor(Qt::PointingHandCursor);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

  setTabOrder(Memo, Button1);
  resize(kViewWidth, kViewHeight);
  Memo->setFocus();
}

void Twnd_oe_View::SetText(std::string_view text) {
  const auto lines = SplitLines(text);
  std::string joined;
  std::size_t size = 0;
  for (const auto line : lines) size += line.size() + 1;
  joined.reserve(size);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) joined += '\n';
    joined.append(lines[i]);
  }
  Memo->setPlainText(StoreText(joined));
}

void Twnd_oe_View::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  const int w = width(), h = height();
  Memo->setGeometry(kMemoLeft, kMemoTop, w - kMemoLeft - kMemoRight, h - kMemoTop - kMemoBottom);
  Button1->setGeometry(w - kButtonRight - kButtonWidth, h - kButtonBottom - kButtonHeight, kButtonWidth,
                       kButtonHeight);
}

void Twnd_oe_View::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!FirstShow) return;
  FirstShow = false;
  // The outer size counts the frame once the platform tells it; centred on the owner.
  QMargins frame;
  if (const QWindow* window = windowHandle()) frame = window->frameMargins();
  resize(kViewWidth - frame.left() - frame.right(), kViewHeight - frame.top() - frame.bottom());
  if (const QWidget* owner = parentWidget()) {
    const QPoint centre = owner->frameGeometry().center();
    move(centre.x() - kViewWidth / 2, centre.y() - kViewHeight / 2);
  }
  Memo->setFocus();
}

// Escape presses the cancel button, which is Button1.
void Twnd_oe_View::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) {
    Button1->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void ShowMessageData(std::string_view text) {
  const auto view = std::make_unique<Twnd_oe_View>(wnd_oe_Main);
  view->SetText(text);
  view->exec();
}

} // namespace postvue
