#include "ui/main_form.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStringDecoder>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>
#include <utility>

#include "ui/file_filter.h"
#include "ui/import_options_form.h"
#include "ui/info_form.h"
#include "ui/picture_view.h"

namespace quarrendel::ui {

namespace {

// Texts from the commands are UTF-8, but image names are whatever bytes the
// archive holds: bytes that do not decode as UTF-8 are shown one character
// per byte, as Latin-1, rather than as replacement characters.
QString FromView(std::string_view text) {
  const QByteArrayView bytes(text.data(), static_cast<qsizetype>(text.size()));
  QStringDecoder utf8(QStringConverter::Utf8,
                      QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
  QString decoded = utf8.decode(bytes);
  if (!utf8.hasError()) return decoded;
  return QString::fromLatin1(bytes);
}

// A borderless text area painted in the window's face colour.
void UseFaceColour(QPlainTextEdit* memo) {
  memo->setFrameShape(QFrame::NoFrame);
  QPalette face = memo->palette();
  face.setColor(QPalette::Base, face.color(QPalette::Window));
  memo->setPalette(face);
}

// A list box as the window's users know it: once an item is selected, a
// click keeps one selected. Qt's single selection lets a Ctrl+click on the
// selected item, or a click below the items, leave none selected, after which
// the image commands would ask for a selection while an image is shown.
class ListBox : public QListWidget {
 public:
  using QListWidget::QListWidget;

 protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* event) const override {
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (!index.isValid() || command.testAnyFlags(QItemSelectionModel::Deselect | QItemSelectionModel::Toggle)) {
      return QItemSelectionModel::NoUpdate;
    }
    return command;
  }
};

// Restores a flag on leaving a scope.
class FlagGuard {
 public:
  explicit FlagGuard(bool& flag) : flag_(flag), old_(std::exchange(flag, true)) {}
  ~FlagGuard() { flag_ = old_; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
  bool old_;
};

// The local file a drag carries (the first, when it carries several).
std::optional<QString> DroppedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return std::nullopt;
  const QList<QUrl> urls = data->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return std::nullopt;
  return urls.first().toLocalFile();
}

}  // namespace

TForm1::TForm1(ImageStore& store, QWidget* parent) : QMainWindow(parent), store_(store) {
  setObjectName(QStringLiteral("Form1"));
  BuildControls();
  BuildMenus();
  BuildStatusBar();
  FormCreate();
  // The dialogs live, hidden, for the whole run and keep what the user set.
  Form2 = new TForm2(this);
  Form4 = new TForm4(this);
}

TForm1::~TForm1() = default;

void TForm1::BuildControls() {
  setWindowTitle(QStringLiteral("Quarrendel v 1.8b By Orvask "));
  // 727 x 578 outside a standard 4-pixel frame with a 23-pixel caption.
  move(192, 117);
  resize(719, 551);

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  auto* row = new QHBoxLayout(client);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  setCentralWidget(client);

  GroupBox1 = new QGroupBox(QStringLiteral("Image List "), client);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setFixedWidth(185);
  row->addWidget(GroupBox1);

  ListBox1 = new ListBox(GroupBox1);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setGeometry(10, 20, 163, 253);
  ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
  // A click selects (or the keyboard moves the selection): the image is
  // shown. A click on the item already selected shows it again.
  connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] {
    if (listUpdating_) return;
    selectionChangedByPress_ = true;
    ListBox1Click();
  });
  connect(ListBox1, &QListWidget::itemClicked, this, [this] {
    if (!selectionChangedByPress_) ListBox1Click();
  });
  ListBox1->viewport()->installEventFilter(this);

  Label2 = new QLabel(GroupBox1);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->move(12, 276);

  Memo1 = new QPlainTextEdit(GroupBox1);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(10, 302, 163, 217);
  Memo1->setReadOnly(true);
  // Files dropped anywhere go to the window, not into the memo.
  Memo1->setAcceptDrops(false);
  UseFaceColour(Memo1);
  setAcceptDrops(true);

  Panel1 = new QFrame(client);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  row->addWidget(Panel1, 1);

  // The picture starts at 1, 1, inside the panel's frame, and scrolls when
  // it is larger than the panel.
  auto* panelLayout = new QVBoxLayout(Panel1);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  ScrollBox1 = new PictureArea(Panel1);
  ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
  panelLayout->addWidget(ScrollBox1);
  Image1 = ScrollBox1->View();
  Image1->setObjectName(QStringLiteral("Image1"));

  Panel2 = new QFrame(Panel1);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel2->setAutoFillBackground(true);
  Panel2->setGeometry(22, 158, 285, 73);
  Panel2->hide();

  Label1 = new QLabel(Panel2);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->move(14, 14);

  ProgressBar1 = new QProgressBar(Panel2);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setGeometry(14, 36, 259, 17);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
}

void TForm1::BuildMenus() {
  auto named = [](QAction* action, const char* name) {
    action->setObjectName(QLatin1String(name));
    return action;
  };

  File1 = menuBar()->addMenu(QStringLiteral("File"));
  File1->setObjectName(QStringLiteral("File1"));
  Open1 = named(File1->addAction(QStringLiteral("Load")), "Open1");
  Save1 = named(File1->addAction(QStringLiteral("Save")), "Save1");
  ExportPngPack1 = named(File1->addAction(QStringLiteral("Export all as PNG pack...")), "ExportPngPack1");
  NewFromPngPack1 = named(File1->addAction(QStringLiteral("New archive from PNG pack...")), "NewFromPngPack1");
  Recent1 = File1->addMenu(QStringLiteral("Recent files"));
  Recent1->setObjectName(QStringLiteral("Recent1"));
  connect(Recent1, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
  N1 = named(File1->addSeparator(), "N1");
  Quit1 = named(File1->addAction(QStringLiteral("Quit")), "Quit1");
  connect(File1, &QMenu::aboutToShow, this, [this] { File1Click(); });
  connect(Open1, &QAction::triggered, this, [this] { Open1Click(); });
  connect(Save1, &QAction::triggered, this, [this] { Save1Click(); });
  connect(ExportPngPack1, &QAction::triggered, this, [this] { ExportPngPack1Click(); });
  connect(NewFromPngPack1, &QAction::triggered, this, [this] { NewFromPngPack1Click(); });
  connect(Quit1, &QAction::triggered, this, [this] { Quit1Click(); });

  Image2 = menuBar()->addMenu(QStringLiteral("Image"));
  Image2->setObjectName(QStringLiteral("Image2"));
  Export1 = named(Image2->addAction(QStringLiteral("Export")), "Export1");
  Exportall1 = named(Image2->addAction(QStringLiteral("Export all")), "Exportall1");
  import1 = named(Image2->addAction(QStringLiteral("Import")), "import1");
  Add1 = named(Image2->addAction(QStringLiteral("Add")), "Add1");
  connect(Image2, &QMenu::aboutToShow, this, [this] { Image2Click(); });
  connect(Export1, &QAction::triggered, this, [this] { Export1Click(); });
  connect(Exportall1, &QAction::triggered, this, [this] { Exportall1Click(); });
  connect(import1, &QAction::triggered, this, [this] { import1Click(); });
  connect(Add1, &QAction::triggered, this, [this] { Add1Click(); });

  BuildViewMenu();

  // "?" has no items: a menu-bar action, so clicking the title itself runs it.
  N2 = named(menuBar()->addAction(QStringLiteral("?")), "N2");
  connect(N2, &QAction::triggered, this, [this] { N2Click(); });
}

void TForm1::BuildViewMenu() {
  auto item = [this](const char* caption, const char* name) {
    QAction* action = View1->addAction(QLatin1String(caption));
    action->setObjectName(QLatin1String(name));
    return action;
  };
  View1 = menuBar()->addMenu(QStringLiteral("View"));
  View1->setObjectName(QStringLiteral("View1"));

  struct ZoomItem {
    QAction** action;
    int zoom;
    const char* caption;
    const char* name;
  };
  const ZoomItem zoomItems[] = {{&Zoom1x, 1, "1x", "Zoom1x"},
                                {&Zoom2x, 2, "2x", "Zoom2x"},
                                {&Zoom4x, 4, "4x", "Zoom4x"},
                                {&Zoom8x, 8, "8x", "Zoom8x"},
                                {&ZoomFit, PictureArea::kFit, "Fit to window", "ZoomFit"}};
  zoomGroup_ = new QActionGroup(this);
  for (const ZoomItem& zoomItem : zoomItems) {
    QAction* action = item(zoomItem.caption, zoomItem.name);
    action->setCheckable(true);
    action->setData(zoomItem.zoom);
    zoomGroup_->addAction(action);
    connect(action, &QAction::triggered, this, [this, zoom = zoomItem.zoom] { ScrollBox1->SetZoom(zoom); });
    *zoomItem.action = action;
  }
  Zoom1x->setChecked(true);
  Zoom1x->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  View1->addSeparator();
  ZoomIn1 = item("Zoom in", "ZoomIn1");
  ZoomIn1->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
  connect(ZoomIn1, &QAction::triggered, this, [this] { ScrollBox1->ZoomIn(ScrollBox1->viewport()->rect().center()); });
  ZoomOut1 = item("Zoom out", "ZoomOut1");
  ZoomOut1->setShortcut(QKeySequence::ZoomOut);
  connect(ZoomOut1, &QAction::triggered, this, [this] { ScrollBox1->ZoomOut(ScrollBox1->viewport()->rect().center()); });
  View1->addSeparator();

  // At most one of the two is on; neither shows the picture as it is.
  auto* channels = new QActionGroup(this);
  channels->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  AlphaOnly1 = item("Alpha channel only", "AlphaOnly1");
  ColoursOnly1 = item("Colours without alpha", "ColoursOnly1");
  for (QAction* action : {AlphaOnly1, ColoursOnly1}) {
    action->setCheckable(true);
    channels->addAction(action);
    connect(action, &QAction::toggled, this, [this] {
      Image1->SetChannels(AlphaOnly1->isChecked()     ? Channels::AlphaOnly
                          : ColoursOnly1->isChecked() ? Channels::ColoursOnly
                                                      : Channels::Blended);
    });
  }
  ScrollBox1->onZoomChanged = [this] { ShowZoom(); };
}

void TForm1::BuildStatusBar() {
  StatusBar1 = statusBar();
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(true);
  const std::pair<QLabel**, const char*> labels[] = {
      {&StatusSize, "StatusSize"}, {&StatusFormat, "StatusFormat"}, {&StatusPalette, "StatusPalette"},
      {&StatusZoom, "StatusZoom"}};
  for (const auto& [label, name] : labels) {
    *label = new QLabel(StatusBar1);
    (*label)->setObjectName(QLatin1String(name));
  }
  StatusBar1->addWidget(StatusSize);
  StatusBar1->addWidget(StatusFormat);
  StatusBar1->addWidget(StatusPalette, 1);
  StatusBar1->addPermanentWidget(StatusZoom);
  ShowZoom();
  // The window grows by the status line: the client area keeps its size.
  resize(width(), height() + StatusBar1->sizeHint().height());
}

void TForm1::ShowZoom() {
  StatusZoom->setText(ScrollBox1->ZoomText());
  for (QAction* action : zoomGroup_->actions()) {
    if (action->data().toInt() == ScrollBox1->Zoom()) action->setChecked(true);
  }
}

void TForm1::FillRecentMenu() {
  Recent1->clear();
  const QStringList paths = recentFiles.Paths();
  int number = 0;
  for (const QString& path : paths) {
    ++number;
    QString caption = QStringLiteral("&%1 %2").arg(number).arg(QString(path).replace(QLatin1Char('&'), QStringLiteral("&&")));
    // A file that is gone (a removed disk, say) stays listed, disabled, until it is back.
    const bool present = QFileInfo::exists(path);
    if (!present) caption += QStringLiteral(" (not found)");
    QAction* item = Recent1->addAction(caption);
    item->setEnabled(present);
    connect(item, &QAction::triggered, this, [this, path] { OpenPath(path); });
  }
  if (paths.isEmpty()) Recent1->addAction(QStringLiteral("No recent files"))->setEnabled(false);
  Recent1->addSeparator();
  QAction* clear = Recent1->addAction(QStringLiteral("Clear recent files"));
  clear->setEnabled(!paths.isEmpty());
  connect(clear, &QAction::triggered, this, [this] { recentFiles.Clear(); });
}

void TForm1::FormCreate() {
  SetLabel("0 Images");
  SetMemo({"Description :"});
  // Import and Add open on "All Suported Format".
  dialogs_[static_cast<size_t>(DialogId::OpenDialog2)].filterIndex = 5;
}

void TForm1::FormClose() {
  // A dialog left showing would keep the application alive.
  Form2->close();
  Form4->close();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListBox1->viewport() && event->type() == QEvent::MouseButtonPress) selectionChangedByPress_ = false;
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!MayDiscardChanges()) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (DroppedFile(event->mimeData())) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  const std::optional<QString> path = DroppedFile(event->mimeData());
  if (!path) return;
  event->acceptProposedAction();
  // The drag source waits for the drop to end: load after it, not inside it.
  QMetaObject::invokeMethod(this, [this, file = *path] { OpenPath(file); }, Qt::QueuedConnection);
}

bool TForm1::MayDiscardChanges() {
  return !store_.unsavedChanges ||
         AskQuestion(QStringLiteral("The images were changed and the changes are not saved. Discard them?"),
                     QStringLiteral("Discard"));
}

void TForm1::RunCommand(const std::function<void()>& command) {
  // The one place where a command's errors end: quarrendel::Error and every
  // other standard exception carry the text the user sees.
  try {
    command();
  } catch (const std::exception& e) {
    ShowBox(BoxKind::Error, QString::fromUtf8(e.what()));
  } catch (...) {
    ShowBox(BoxKind::Error, QStringLiteral("The command ended with an unknown error."));
  }
}

void TForm1::File1Click() {
  Save1->setText(store_.bmlFlag != 0 ? QStringLiteral("Rebuild") : QStringLiteral("Save"));
  ExportPngPack1->setEnabled(store_.imageCount > 0);
}

void TForm1::Quit1Click() { close(); }

void TForm1::Image2Click() {
  Add1->setEnabled(true);
  if (store_.bmlFlag != 0) Add1->setEnabled(false);
}

void TForm1::N2Click() { ExecModal(*Form4); }

// ---- Front end ----

std::optional<FileChoice> TForm1::AskFile(DialogId dialog, bool save, std::string_view filter) {
  DialogState& state = dialogs_[static_cast<size_t>(dialog)];
  const FileDialogRequest request{dialog, save, QtNameFilters(filter), state.fileName, state.filterIndex};
  std::optional<FileChoice> choice = RunFileDialog(request);
  if (choice) {
    state.fileName = QFile::decodeName(QByteArray::fromStdString(choice->path));
    state.filterIndex = choice->filterIndex;
    if (dialog == DialogId::OpenDialog1) loadChoice_ = state.fileName;
  }
  return choice;
}

std::optional<FileChoice> TForm1::AskOpenFile(DialogId dialog, std::string_view filter) {
  return AskFile(dialog, false, filter);
}

std::optional<FileChoice> TForm1::AskSaveFile(DialogId dialog, std::string_view filter) {
  return AskFile(dialog, true, filter);
}

void TForm1::SetDialogFileName(DialogId dialog, std::string_view name) {
  DialogState& state = dialogs_[static_cast<size_t>(dialog)];
  const QString offered = QFile::decodeName(QByteArray(name.data(), static_cast<qsizetype>(name.size())));
  // A bare name opens in the folder of the dialog's last choice, as the
  // platform dialogs remember it.
  const qsizetype slash = state.fileName.lastIndexOf(QLatin1Char('/'));
  const bool bare = !offered.contains(QLatin1Char('/'));
  state.fileName = bare && slash >= 0 ? state.fileName.left(slash + 1) + offered : offered;
}

std::optional<FileChoice> TForm1::RunFileDialog(const FileDialogRequest& request) {
  QFileDialog dialog(this);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters(request.filters);
  if (request.filterIndex >= 1 && request.filterIndex <= request.filters.size()) {
    dialog.selectNameFilter(request.filters[request.filterIndex - 1]);
  }
  if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  // The filter index picks the output kind: an entry the list does not hold
  // is no choice, not the first entry.
  const std::optional<int> filterIndex = FilterIndexOf(request.filters, dialog.selectedNameFilter());
  if (!filterIndex) return std::nullopt;
  FileChoice choice;
  choice.path = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
  choice.filterIndex = *filterIndex;
  return choice;
}

void TForm1::ShowMessage(std::string_view text) { ShowBox(BoxKind::Plain, FromView(text)); }

void TForm1::ShowInformation(std::string_view text) { ShowBox(BoxKind::Information, FromView(text)); }

void TForm1::ShowBox(BoxKind kind, const QString& text) {
  QMessageBox box(this);
  box.setText(text);
  box.setStandardButtons(QMessageBox::Ok);
  switch (kind) {
    case BoxKind::Plain:
      box.setWindowTitle(QStringLiteral("Quarrendel"));
      box.setIcon(QMessageBox::NoIcon);
      break;
    case BoxKind::Information:
      box.setWindowTitle(QStringLiteral("Information"));
      box.setIcon(QMessageBox::Information);
      break;
    case BoxKind::Error:
      box.setWindowTitle(QStringLiteral("Quarrendel"));
      box.setIcon(QMessageBox::Critical);
      break;
  }
  box.exec();
}

bool TForm1::AskQuestion(const QString& text, const QString& goAhead) {
  QMessageBox box(this);
  box.setWindowTitle(QStringLiteral("Quarrendel"));
  box.setIcon(QMessageBox::Warning);
  box.setText(text);
  QPushButton* yes = box.addButton(goAhead, QMessageBox::DestructiveRole);
  box.setDefaultButton(box.addButton(QMessageBox::Cancel));
  box.exec();
  return box.clickedButton() == yes;
}

void TForm1::ExecModal(QDialog& dialog) { dialog.exec(); }

void TForm1::SetProgressVisible(bool visible) {
  Panel2->setVisible(visible);
  if (visible) {
    Panel2->raise();
    // The load holds the event loop: paint now.
    Panel2->repaint();
  }
}

void TForm1::SetProgress(std::string_view caption, int32_t maximum, int32_t position) {
  Label1->setText(FromView(caption));
  Label1->adjustSize();
  ProgressBar1->setRange(0, maximum);
  ProgressBar1->setValue(position);
  Panel2->repaint();
}

void TForm1::ListClear() {
  FlagGuard guard(listUpdating_);
  ListBox1->clear();
}

void TForm1::ListAdd(std::string_view text) {
  FlagGuard guard(listUpdating_);
  ListBox1->addItem(FromView(text));
}

void TForm1::ListDelete(int32_t index) {
  FlagGuard guard(listUpdating_);
  if (index >= 0 && index < ListCount()) delete ListBox1->takeItem(index);
}

int32_t TForm1::ListCount() const { return static_cast<int32_t>(ListBox1->count()); }

int32_t TForm1::ListSelectedIndex() const {
  const QModelIndexList rows = ListBox1->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : static_cast<int32_t>(rows.first().row());
}

void TForm1::ListSetSelectedIndex(int32_t index) {
  FlagGuard guard(listUpdating_);
  if (index >= 0 && index < ListCount()) {
    ListBox1->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
  } else {
    ListBox1->clearSelection();
    ListBox1->setCurrentRow(-1);
  }
}

void TForm1::SetLabel(std::string_view text) {
  Label2->setText(FromView(text));
  Label2->adjustSize();
}

void TForm1::SetMemo(const std::vector<std::string>& lines) {
  QStringList text;
  for (const std::string& line : lines) text.push_back(QString::fromStdString(line));
  Memo1->setPlainText(text.join(QLatin1Char('\n')));
}

void TForm1::ShowPicture(const Picture& picture) {
  Image1->SetPicture(picture);
  ScrollBox1->Refresh();
}

void TForm1::HandOverPicture(Picture& picture) {
  Image1->TakePicture(picture);
  ScrollBox1->Refresh();
}

void TForm1::ShowStatus(const ImageStatus& status) {
  StatusSize->setText(status.width > 0 || status.height > 0
                          ? QStringLiteral("%1 x %2").arg(status.width).arg(status.height)
                          : QString());
  StatusFormat->setText(FromView(status.format));
  StatusPalette->setText(FromView(status.palette));
}

ImportOptions TForm1::RunImportOptions(const ImportOptionsRequest& request) {
  Form2->Prepare(request);
  ExecModal(*Form2);
  return Form2->Options();
}

}  // namespace quarrendel::ui
