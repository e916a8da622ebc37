#include "ReadView.h"

#include "Main.h"
#include "QtRowTexts.h"
#include "ViewerLayout.h"

#include <QApplication>
#include <QBuffer>
#include <QFileIconProvider>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeDatabase>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <memory>

namespace postvue {

namespace {
constexpr std::string_view kHeaderLabels[5] = {kFromLabel, kToLabel, kCcLabel, kDateLabel, kSubjectLabel};

// The icon of a file type: the desktop theme's, else the platform's for a file.
QIcon TypeIcon(const QString& type, const QString& name) {
  static const QMimeDatabase database;
  QMimeType mime = database.mimeTypeForName(type);
  if (!mime.isValid() || mime.isDefault()) mime = database.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
  static const QFileIconProvider provider;
  const QIcon fallback = provider.icon(QFileIconProvider::File);
  if (!mime.isValid()) return fallback;
  return QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName(), fallback));
}
} // namespace

Twnd_oe_Read::Twnd_oe_Read(QWidget* owner, Twnd_oe_Main* main, TMailbaseReader* reader, const TLocaleFormat& format)
    : QDialog(owner), TReadingCore(reader, format), Main(main), Scale(ViewerScale()) {
  setFont(ViewerFont());
  setSizeGripEnabled(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(Scaled(kReadMargin), Scaled(kReadMargin), Scaled(kReadMargin), Scaled(kReadMargin));
  layout->setSpacing(Scaled(kReadSpacing));

  // Header lines: a bold name, a value that can be selected and copied.
  auto* header = new QGridLayout;
  header->setHorizontalSpacing(Scaled(kReadSpacing));
  header->setVerticalSpacing(Scaled(2));
  QFont bold = font();
  bold.setBold(true);
  for (int i = 0; i < 5; ++i) {
    HeaderNames[i] = new QLabel(Utf8Text(kHeaderLabels[i]), this);
    HeaderNames[i]->setFont(bold);
    HeaderNames[i]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    HeaderValues[i] = new QLabel(this);
    // Plain text always: a header line is never read as markup.
    HeaderValues[i]->setTextFormat(Qt::PlainText);
    HeaderValues[i]->setWordWrap(true);
    HeaderValues[i]->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    HeaderValues[i]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    HeaderValues[i]->setFocusPolicy(Qt::ClickFocus);
    HeaderNames[i]->setBuddy(HeaderValues[i]);
    const QString name = Utf8Text(kHeaderLabels[i]).chopped(1);
    HeaderValues[i]->setAccessibleName(name);
    header->addWidget(HeaderNames[i], i, 0);
    header->addWidget(HeaderValues[i], i, 1);
  }
  header->setColumnStretch(1, 1);
  layout->addLayout(header);

  Text = new QTextEdit(this);
  Text->setReadOnly(true);
  Text->setAcceptRichText(false);
  Text->setUndoRedoEnabled(false);
  Text->setLineWrapMode(QTextEdit::WidgetWidth);
  Text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // lines wrap, pictures fit
  Text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  Text->setAccessibleName(QStringLiteral("Message text"));
  Text->viewport()->installEventFilter(this); // pictures fit the text's width
  layout->addWidget(Text, 1);

  AttachmentsLabel = new QLabel(Utf8Text(kAttachmentsLabel), this);
  layout->addWidget(AttachmentsLabel);
  Attachments = new QTreeWidget(this);
  Attachments->setColumnCount(3);
  Attachments->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Type")});
  Attachments->setRootIsDecorated(false);
  Attachments->setUniformRowHeights(true);
  Attachments->setSelectionMode(QAbstractItemView::SingleSelection);
  Attachments->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Attachments->setIconSize(QSize(Scaled(kAttachmentIconSize), Scaled(kAttachmentIconSize)));
  Attachments->setAccessibleName(QStringLiteral("Attachments"));
  Attachments->header()->setStretchLastSection(false);
  Attachments->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  Attachments->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  Attachments->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  Attachments->setFixedHeight(Scaled(kAttachmentListHeight));
  Attachments->installEventFilter(this);
  AttachmentsLabel->setBuddy(Attachments);
  // A double click, never a single one (which some desktops take for activation), and Enter (eventFilter).
  connect(Attachments, &QTreeWidget::itemDoubleClicked, this, [this] { Run(&Twnd_oe_Read::cmOpenAttachment); });
  connect(Attachments, &QTreeWidget::currentItemChanged, this, [this] { UpdateButtons(); });
  layout->addWidget(Attachments);

  // The decoder's notes: one small grey line, never a box.
  NotesLabel = new QLabel(this);
  NotesLabel->setTextFormat(Qt::PlainText);
  NotesLabel->setWordWrap(true);
  QFont small = font();
  small.setPixelSize(std::max(1, font().pixelSize() - 1));
  NotesLabel->setFont(small);
  NotesLabel->setForegroundRole(QPalette::PlaceholderText);
  NotesLabel->setAccessibleName(QStringLiteral("Notes"));
  layout->addWidget(NotesLabel);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(Scaled(kReadSpacing));
  auto button = [&](std::string_view caption, int width, void (Twnd_oe_Read::*command)()) {
    auto* pushButton = new QPushButton(Utf8Text(caption), this);
    pushButton->setMinimumSize(std::max(Scaled(width), pushButton->sizeHint().width()), Scaled(kReadButtonHeight));
    pushButton->setAccessibleName(Utf8Text(caption).remove(QStringLiteral("...")));
    connect(pushButton, &QPushButton::clicked, this, [this, command] { Run(command); });
    buttons->addWidget(pushButton);
    return pushButton;
  };
  SaveAttachmentButton = button(kSaveAttachmentCaption, kReadWideButtonWidth, &Twnd_oe_Read::cmSaveAttachment);
  SaveAllButton = button(kSaveAllAttachmentsCaption, kReadWideButtonWidth, &Twnd_oe_Read::cmSaveAllAttachments);
  SaveMessageButton = button(kSaveMessageCaption, kReadWideButtonWidth, &Twnd_oe_Read::cmSaveMessage);
  buttons->addStretch(1);
  PreviousButton = button(kPreviousCaption, kReadButtonWidth, &Twnd_oe_Read::cmPrevious);
  NextButton = button(kNextCaption, kReadButtonWidth, &Twnd_oe_Read::cmNext);
  CloseButton = new QPushButton(Utf8Text(kCloseCaption), this);
  CloseButton->setMinimumSize(Scaled(kReadButtonWidth), Scaled(kReadButtonHeight));
  CloseButton->setDefault(true);
  CloseButton->setAccessibleName(Utf8Text(kCloseCaption));
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);
  buttons->addWidget(CloseButton);
  layout->addLayout(buttons);

  // Previous and Next as mail programs have them.
  const std::pair<QKeySequence, void (Twnd_oe_Read::*)()> keys[] = {
      {QKeySequence(Qt::CTRL | Qt::Key(kPreviousKey)), &Twnd_oe_Read::cmPrevious},
      {QKeySequence(Qt::CTRL | Qt::Key(kNextKey)), &Twnd_oe_Read::cmNext},
      {QKeySequence(Qt::ALT | Qt::Key_Left), &Twnd_oe_Read::cmPrevious},
      {QKeySequence(Qt::ALT | Qt::Key_Right), &Twnd_oe_Read::cmNext},
  };
  for (const auto& [key, command] : keys)
    connect(new QShortcut(key, this), &QShortcut::activated, this, [this, command = command] { Run(command); });
  PreviousButton->setToolTip(QStringLiteral("Ctrl+< (Alt+Left)"));
  NextButton->setToolTip(QStringLiteral("Ctrl+> (Alt+Right)"));

  resize(Scaled(kReadWidth), Scaled(kReadHeight));
}

Twnd_oe_Read::~Twnd_oe_Read() = default;

int Twnd_oe_Read::Scaled(int pixels) const { return ScaledPixels(pixels, Scale); }

void Twnd_oe_Read::Run(void (Twnd_oe_Read::*command)()) {
  RunGuarded([&] { (this->*command)(); });
}

void Twnd_oe_Read::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!FirstShow) return;
  FirstShow = false;
  // The outer size counts the frame once the platform tells it; centred on the owner.
  QMargins frame;
  if (const QWindow* window = windowHandle()) frame = window->frameMargins();
  const int width = Scaled(kReadWidth), height = Scaled(kReadHeight);
  resize(width - frame.left() - frame.right(), height - frame.top() - frame.bottom());
  if (const QWidget* owner = parentWidget()) {
    const QPoint centre = owner->frameGeometry().center();
    move(centre.x() - width / 2, centre.y() - height / 2);
  }
  Text->setFocus();
}

bool Twnd_oe_Read::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Text->viewport() && event->type() == QEvent::Resize) FitPictures();
  // The pictures are decoded once the text is on screen: a large photo does
  // not keep the window from showing.
  if (watched == Text->viewport() && event->type() == QEvent::Paint && PicturesPending) {
    PicturesPending = false;
    QMetaObject::invokeMethod(this, [this, shown = Shown] {
      if (shown == Shown) ShowPictures(Reading());
    }, Qt::QueuedConnection);
  }
  // Enter on an attachment saves it (or reads an attached message), not the default button.
  if (watched == Attachments && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && Attachments->currentItem()) {
      Run(&Twnd_oe_Read::cmOpenAttachment);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void Twnd_oe_Read::ShowReading(const TMessageReading& reading) {
  setWindowTitle(Utf8Text(reading.Caption()));
  // The list follows the message shown, so that the main window shows where Previous and Next lead.
  if (Main && reading.Index() >= 0) Main->SelectMessage(reading.Index());
  const auto& lines = reading.HeaderLines();
  for (int i = 0; i < 5; ++i) {
    const auto line = std::find_if(lines.begin(), lines.end(),
                                   [&](const THeaderLine& l) { return l.Label == kHeaderLabels[i]; });
    const bool shown = line != lines.end();
    HeaderNames[i]->setVisible(shown);
    HeaderValues[i]->setVisible(shown);
    HeaderValues[i]->setText(shown ? Utf8Text(line->Value) : QString());
  }

  QFont textFont = ViewerFont();
  if (reading.FixedPitch()) {
    textFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    textFont.setPixelSize(ViewerFont().pixelSize());
  }
  Text->setFont(textFont);
  Text->document()->setDefaultFont(textFont);
  // Plain text only: nothing in a message is read as markup, nothing fetched.
  Text->setPlainText(Utf8Text(reading.Body()));
  Pictures.clear();
  ++Shown;
  PicturesPending = std::any_of(reading.Attachments().begin(), reading.Attachments().end(),
                                [](const TReadingAttachment& attachment) { return attachment.Picture; });
  Text->viewport()->update();
  Text->moveCursor(QTextCursor::Start);
  Text->verticalScrollBar()->setValue(0);

  Attachments->clear();
  for (const TReadingAttachment& attachment : reading.Attachments()) {
    auto* item = new QTreeWidgetItem(Attachments, {Utf8Text(attachment.Name), Utf8Text(attachment.SizeText),
                                                   Utf8Text(attachment.Type)});
    item->setIcon(0, TypeIcon(item->text(2), item->text(0)));
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  }
  if (Attachments->topLevelItemCount() > 0) Attachments->setCurrentItem(Attachments->topLevelItem(0));
  AttachmentsLabel->setVisible(!reading.Attachments().empty());
  Attachments->setVisible(!reading.Attachments().empty());

  QStringList notes;
  for (const std::string& note : reading.Notes()) notes << Utf8Text(note);
  NotesLabel->setText(notes.join(QStringLiteral("; ")));
  NotesLabel->setVisible(!notes.isEmpty());
  UpdateButtons();
}

void Twnd_oe_Read::ShowPictures(const TMessageReading& reading) {
  Pictures.clear();
  FittedSize = QSize();
  ShowWaitCursor();
  const auto restoreCursor = qScopeGuard([this] { RestoreCursor(); });
  QTextDocument* document = Text->document();
  QTextCursor cursor(document);
  cursor.movePosition(QTextCursor::End);
  // Large photos are decoded at about the screen's width, not their own.
  const QSize screen = this->screen() ? this->screen()->availableSize() : QSize(1920, 1080);
  const auto& attachments = reading.Attachments();
  for (std::size_t i = 0; i < attachments.size(); ++i) {
    if (!attachments[i].Picture) continue;
    QByteArray bytes = QByteArray::fromStdString(reading.AttachmentBytes(i));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    // Qt's own image readers decide what the bytes are; what they cannot read stays a file in the list.
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (size.isValid() && (size.width() > screen.width() || size.height() > screen.height())) {
      size.scale(screen, Qt::KeepAspectRatio);
      reader.setScaledSize(size);
    }
    const QImage image = reader.read();
    if (image.isNull()) continue;
    const QString name = QStringLiteral("postvue-picture:%1").arg(i);
    document->addResource(QTextDocument::ImageResource, QUrl(name), image);
    cursor.insertBlock();
    QTextImageFormat format;
    format.setName(name);
    format.setWidth(image.width());
    format.setHeight(image.height());
    cursor.insertImage(format);
    Pictures.push_back({name, image.width(), image.height()});
  }
  FitPictures();
}

void Twnd_oe_Read::FitPictures() {
  if (Pictures.empty()) return;
  // Each picture whole in the text's view: no wider and no higher than it.
  const int margins = 2 * static_cast<int>(Text->document()->documentMargin()) + 2;
  const QSize available(std::max(16, Text->viewport()->width() - margins),
                        std::max(16, Text->viewport()->height() - margins));
  if (available == FittedSize) return;
  FittedSize = available;
  QTextDocument* document = Text->document();
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
      const QTextFragment piece = fragment.fragment();
      if (!piece.charFormat().isImageFormat()) continue;
      QTextImageFormat format = piece.charFormat().toImageFormat();
      const auto picture = std::find_if(Pictures.begin(), Pictures.end(),
                                        [&](const TPicture& p) { return p.Name == format.name(); });
      if (picture == Pictures.end()) continue;
      const double factor = std::min({1.0, static_cast<double>(available.width()) / picture->Width,
                                      static_cast<double>(available.height()) / picture->Height});
      format.setWidth(picture->Width * factor);
      format.setHeight(picture->Height * factor);
      QTextCursor cursor(document);
      cursor.setPosition(piece.position());
      cursor.setPosition(piece.position() + piece.length(), QTextCursor::KeepAnchor);
      cursor.setCharFormat(format);
    }
  }
}

void Twnd_oe_Read::UpdateButtons() {
  const bool any = !Reading().Attachments().empty();
  SaveAttachmentButton->setEnabled(any && Attachments->currentItem());
  SaveAllButton->setEnabled(any);
  PreviousButton->setEnabled(CanStep(-1));
  NextButton->setEnabled(CanStep(+1));
}

std::int32_t Twnd_oe_Read::NeighbourIndex(std::int32_t index, int step) {
  return Main ? Main->NeighbourMessage(index, step) : -1;
}

void Twnd_oe_Read::cmPrevious() { Step(-1); }

void Twnd_oe_Read::cmNext() { Step(+1); }

void Twnd_oe_Read::cmSaveAttachment() {
  const int row = Attachments->indexOfTopLevelItem(Attachments->currentItem());
  if (row >= 0) SaveAttachment(static_cast<std::size_t>(row));
}

void Twnd_oe_Read::cmSaveAllAttachments() { SaveAllAttachments(); }

void Twnd_oe_Read::cmSaveMessage() { SaveMessage(); }

void Twnd_oe_Read::cmOpenAttachment() {
  const int row = Attachments->indexOfTopLevelItem(Attachments->currentItem());
  if (row < 0) return;
  if (Reading().Attachments()[static_cast<std::size_t>(row)].Message)
    ReadAttachedMessage(static_cast<std::size_t>(row));
  else
    SaveAttachment(static_cast<std::size_t>(row));
}

std::string Twnd_oe_Read::AskAttachmentPath(const std::string& name) {
  return Main ? Utf8Of(Main->RunAttachmentDialog(this, Utf8Text(name))) : std::string();
}

std::string Twnd_oe_Read::AskAttachmentFolder() { return Main ? Utf8Of(Main->RunFolderDialog(this)) : std::string(); }

std::string Twnd_oe_Read::AskMessagePath() { return Main ? Utf8Of(Main->RunMessageSaveDialog()) : std::string(); }

void Twnd_oe_Read::ShowSaveReport(const TSaveAllReport& report) {
  if (Main) Main->ShowReportBox(this, Utf8Text(report.Text()), report.Failed > 0);
}

void Twnd_oe_Read::ShowAttachedMessage(const TMessageReading& reading) {
  const auto window = std::make_unique<Twnd_oe_Read>(this, Main, nullptr, Format);
  window->OpenReading(reading);
  window->exec();
}

void Twnd_oe_Read::ShowError(const std::string& text) {
  if (Main) Main->ErrorBox(Utf8Text(text));
}

void Twnd_oe_Read::ShowWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void Twnd_oe_Read::RestoreCursor() { QApplication::restoreOverrideCursor(); }

} // namespace postvue
