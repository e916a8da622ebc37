// The message data window: a message's raw text, read-only, in a modal window.
#pragma once

#include "ViewerLayout.h"

#include <QDialog>

#include <string_view>

class QPlainTextEdit;
class QPushButton;

namespace postvue {

class Twnd_oe_View : public QDialog {
  Q_OBJECT
public:
  explicit Twnd_oe_View(QWidget* owner);

  QPlainTextEdit* Memo = nullptr;
  QPushButton* Button1 = nullptr;

  // Fills Memo with the text's lines.
  void SetText(std::string_view text);

protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  int Scaled(int pixels) const;

  double Scale = 1.0;
  bool FirstShow = true;
};

// Shows text in a new message data window owned by the main window and returns
// when the user has closed it; the window is gone afterwards.
void ShowMessageData(std::string_view text);

} // namespace postvue
