#include "View.h"

#include "Main.h"
#include "QtRowTexts.h"
#include "ViewerLayout.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWindow>

#include <memory>

namespace postvue {

Twnd_oe_View::Twnd_oe_View(QWidget* owner) : QDialog(owner), Scale(ViewerScale()) {
  setWindowTitle(Utf8Text(kDataWindowCaption));
  setSizeGripEnabled(false);
  setFont(ViewerFont()); // the Close button's too

  Memo = new QPlainTextEdit(this);
  Memo->setReadOnly(true);
  QFont memoFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  memoFont.setPixelSize(ViewerFont().pixelSize());
  Memo->setFont(memoFont);
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

  Button1 = new QPushButton(Utf8Text(kCloseCaption), this);
  Button1->setCursor(Qt::PointingHandCursor);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

  setTabOrder(Memo, Button1);
  resize(Scaled(kViewWidth), Scaled(kViewHeight));
  Memo->setFocus();
}

void Twnd_oe_View::SetText(std::string_view text) { Memo->setPlainText(StoreText(JoinedLines(text, "\n"))); }

int Twnd_oe_View::Scaled(int pixels) const { return ScaledPixels(pixels, Scale); }

void Twnd_oe_View::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  const int w = width(), h = height();
  Memo->setGeometry(Scaled(kMemoLeft), Scaled(kMemoTop), w - Scaled(kMemoLeft) - Scaled(kMemoRight),
                    h - Scaled(kMemoTop) - Scaled(kMemoBottom));
  const int buttonWidth = Scaled(kButtonWidth), buttonHeight = Scaled(kButtonHeight);
  Button1->setGeometry(w - Scaled(kButtonRight) - buttonWidth, h - Scaled(kButtonBottom) - buttonHeight,
                       buttonWidth, buttonHeight);
}

void Twnd_oe_View::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!FirstShow) return;
  FirstShow = false;
  // The outer size counts the frame once the platform tells it; centred on the owner.
  QMargins frame;
  if (const QWindow* window = windowHandle()) frame = window->frameMargins();
  const int width = Scaled(kViewWidth), height = Scaled(kViewHeight);
  resize(width - frame.left() - frame.right(), height - frame.top() - frame.bottom());
  if (const QWidget* owner = parentWidget()) {
    const QPoint centre = owner->frameGeometry().center();
    move(centre.x() - width / 2, centre.y() - height / 2);
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
