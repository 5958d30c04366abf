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
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QStringDecoder>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>
#include <utility>

#include "ui/command_thread.h"
#include "ui/file_filter.h"
#include "ui/import_options_form.h"
#include "ui/info_form.h"
#include "ui/picture_view.h"
#include "ui/thumbnail_view.h"

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

  // Makes what a drag of these rows carries.
  std::function<QMimeData*(const std::vector<int>&)> dragImages;

 protected:
  QStringList mimeTypes() const override { return {QStringLiteral("text/uri-list")}; }
  QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override {
    if (!dragImages) return nullptr;
    std::vector<int> rows;
    for (const QListWidgetItem* item : items) rows.push_back(row(item));
    std::sort(rows.begin(), rows.end());
    return dragImages(rows);
  }

  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* event) const override {
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (!index.isValid() || command.testFlag(QItemSelectionModel::Deselect)) return QItemSelectionModel::NoUpdate;
    // Ctrl+click adds and removes items, but never the last one selected.
    if (command.testFlag(QItemSelectionModel::Toggle) && selectionModel()->isSelected(index) &&
        selectionModel()->selectedRows().size() <= 1) {
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

// Thrown by the window's import-options dialog when the user cancels it: the
// Import or Add ends there, before anything in the store changed.
struct CommandCancelled {};

constexpr const char* kProgramTitle = "Quarrendel v 1.8b By Orvask ";
// The list box's and the memo's places at the window's first size.
constexpr QRect kListBox1Rect(10, 20, 163, 253);
constexpr QPoint kLabel2Pos(12, 276);
constexpr QRect kMemo1Rect(10, 302, 163, 217);
constexpr int kGroupBox1Width = 185;
constexpr int kFormHeight = 551;
const QString kThumbnailSideKey = QStringLiteral("thumbnailSide");

QSettings ProgramSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quarrendel"), QStringLiteral("quarrendel"));
}

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
  BuildKeys();
  FormCreate();
  // The dialogs live, hidden, for the whole run and keep what the user set.
  Form2 = new TForm2(this);
  Form4 = new TForm4(this);
}

TForm1::~TForm1() = default;

void TForm1::BuildControls() {
  setWindowTitle(QLatin1String(kProgramTitle));
  // 727 x 578 outside a standard 4-pixel frame with a 23-pixel caption.
  move(192, 117);
  resize(719, 551);

  // The list on the left, the picture on the right; the splitter between
  // them widens the list.
  Splitter1 = new QSplitter(Qt::Horizontal, this);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setChildrenCollapsible(false);
  Splitter1->setHandleWidth(0);  // the grab area overlaps the two sides by a few pixels
  QWidget* client = Splitter1;
  setCentralWidget(Splitter1);

  GroupBox1 = new QGroupBox(QStringLiteral("Image List "), client);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setMinimumWidth(kGroupBox1Width);
  Splitter1->addWidget(GroupBox1);

  auto* list = new ListBox(GroupBox1);
  list->dragImages = [this](const std::vector<int>& rows) { return DragImages(rows); };
  ListBox1 = list;
  // Images drag out as PNG files; PNG and bitmap files dropped on one import into it.
  ListBox1->setDragEnabled(true);
  ListBox1->setDragDropMode(QAbstractItemView::DragOnly);
  ListBox1->setDefaultDropAction(Qt::CopyAction);
  ListBox1->viewport()->setAcceptDrops(true);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setGeometry(kListBox1Rect);
  // Shift and Ctrl select several images for "Export selected...".
  ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // Long names are cut in the middle, whole in their tooltips.
  ListBox1->setTextElideMode(Qt::ElideMiddle);
  ListBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // A click selects (or the keyboard moves the selection): the image is
  // shown. A click on the item already selected shows it again.
  connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] {
    SelectTilesFromList();
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
  Label2->move(kLabel2Pos);

  Memo1 = new QPlainTextEdit(GroupBox1);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(kMemo1Rect);
  Memo1->setReadOnly(true);
  // Tab goes on to the picture; the caret shows where the focus is.
  Memo1->setTabChangesFocus(true);
  Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  // Files dropped anywhere go to the window, not into the memo.
  Memo1->setAcceptDrops(false);
  UseFaceColour(Memo1);
  setAcceptDrops(true);

  Panel1 = new QFrame(client);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  // The Thumbnails view, hidden until chosen, sits between the list and the picture.
  ThumbnailView1 = new ThumbnailView(store_, [this] { return !busy_; }, client);
  ThumbnailView1->setObjectName(QStringLiteral("ThumbnailView1"));
  ThumbnailView1->hide();
  ThumbnailView1->Model()->dragImages = [this](const std::vector<int>& rows) { return DragImages(rows); };
  ThumbnailView1->viewport()->setAcceptDrops(true);
  ThumbnailView1->viewport()->installEventFilter(this);
  Splitter1->addWidget(ThumbnailView1);
  Splitter1->addWidget(Panel1);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setStretchFactor(2, 1);
  connect(ThumbnailView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { SelectListFromTiles(); });
  connect(ThumbnailView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { SelectListFromTiles(); });

  // The picture starts at 1, 1, inside the panel's frame, and scrolls when
  // it is larger than the panel.
  auto* panelLayout = new QVBoxLayout(Panel1);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  ScrollBox1 = new PictureArea(Panel1);
  ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
  panelLayout->addWidget(ScrollBox1, 1);
  BuildPropertyPanel(Panel1);
  panelLayout->addWidget(PropertyPanel1);
  Image1 = ScrollBox1->View();
  Image1->setObjectName(QStringLiteral("Image1"));
  ScrollBox1->setFocusPolicy(Qt::StrongFocus);
  ScrollBox1->installEventFilter(this);
  setTabOrder(ListBox1, Memo1);
  setTabOrder(Memo1, ScrollBox1);

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
  GroupBox1->installEventFilter(this);
}

void TForm1::BuildPropertyPanel(QWidget* parent) {
  PropertyPanel1 = new QGroupBox(QStringLiteral("Properties "), parent);
  PropertyPanel1->setObjectName(QStringLiteral("PropertyPanel1"));
  auto* form = new QFormLayout(PropertyPanel1);
  form->setContentsMargins(8, 4, 8, 4);
  form->setVerticalSpacing(2);
  NameEdit1 = new QLineEdit(PropertyPanel1);
  NameEdit1->setObjectName(QStringLiteral("NameEdit1"));
  NameEdit1->setMaxLength(28);  // the archives' name fields hold 28 bytes
  IndexEdit1 = new QLineEdit(PropertyPanel1);
  IndexEdit1->setObjectName(QStringLiteral("IndexEdit1"));
  IndexEdit1->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,10}")), IndexEdit1));
  for (QLineEdit* edit : {NameEdit1, IndexEdit1}) {
    connect(edit, &QLineEdit::editingFinished, this, [this] { PropertiesEdited(); });
  }
  const std::pair<QLabel**, const char*> values[] = {{&FormatValue1, "FormatValue1"},
                                                     {&SizeValue1, "SizeValue1"},
                                                     {&LevelsValue1, "LevelsValue1"},
                                                     {&PaletteValue1, "PaletteValue1"}};
  for (const auto& [label, name] : values) {
    *label = new QLabel(PropertyPanel1);
    (*label)->setObjectName(QLatin1String(name));
    (*label)->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  PaletteValue1->setMinimumWidth(1);
  form->addRow(QStringLiteral("Name:"), NameEdit1);
  form->addRow(QStringLiteral("Global index:"), IndexEdit1);
  form->addRow(QStringLiteral("Format word:"), FormatValue1);
  form->addRow(QStringLiteral("Size:"), SizeValue1);
  form->addRow(QStringLiteral("Levels:"), LevelsValue1);
  form->addRow(QStringLiteral("Palette file:"), PaletteValue1);
  PropertyPanel1->setEnabled(false);
}

void TForm1::BuildMenus() {
  auto named = [](QAction* action, const char* name) {
    action->setObjectName(QLatin1String(name));
    return action;
  };
  // An item of `menu` whose click runs `click`.
  auto item = [this, named](QMenu* menu, const char* caption, const char* name, void (TForm1::*click)()) {
    QAction* action = named(menu->addAction(QLatin1String(caption)), name);
    connect(action, &QAction::triggered, this, [this, click] { (this->*click)(); });
    return action;
  };

  File1 = menuBar()->addMenu(QStringLiteral("File"));
  File1->setObjectName(QStringLiteral("File1"));
  Open1 = item(File1, "Load", "Open1", &TForm1::Open1Click);
  Save1 = item(File1, "Save", "Save1", &TForm1::Save1Click);
  ExportPngPack1 = item(File1, "Export all as PNG pack...", "ExportPngPack1", &TForm1::ExportPngPack1Click);
  NewFromPngPack1 = item(File1, "New archive from PNG pack...", "NewFromPngPack1", &TForm1::NewFromPngPack1Click);
  UpdateFromPngPack1 =
      item(File1, "Update from PNG pack...", "UpdateFromPngPack1", &TForm1::UpdateFromPngPack1Click);
  Recent1 = File1->addMenu(QStringLiteral("Recent files"));
  Recent1->setObjectName(QStringLiteral("Recent1"));
  connect(Recent1, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
  N1 = named(File1->addSeparator(), "N1");
  Quit1 = item(File1, "Quit", "Quit1", &TForm1::Quit1Click);
  connect(File1, &QMenu::aboutToShow, this, [this] { File1Click(); });

  Image2 = menuBar()->addMenu(QStringLiteral("Image"));
  Image2->setObjectName(QStringLiteral("Image2"));
  Export1 = item(Image2, "Export", "Export1", &TForm1::Export1Click);
  Exportall1 = item(Image2, "Export all", "Exportall1", &TForm1::Exportall1Click);
  import1 = item(Image2, "Import", "import1", &TForm1::import1Click);
  Add1 = item(Image2, "Add", "Add1", &TForm1::Add1Click);
  Image2->addSeparator();
  ExportSelected1 = item(Image2, "Export selected...", "ExportSelected1", &TForm1::ExportSelected1Click);
  connect(Image2, &QMenu::aboutToShow, this, [this] { Image2Click(); });

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

  View1->addSeparator();
  Thumbnails1 = item("Thumbnails", "Thumbnails1");
  Thumbnails1->setCheckable(true);
  Thumbnails1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
  connect(Thumbnails1, &QAction::toggled, this, [this](bool shown) {
    ThumbnailView1->setVisible(shown);
    if (shown) {
      RefillThumbnails();
      QList<int> sizes = Splitter1->sizes();
      if (sizes.size() == 3 && sizes[1] < ThumbnailView1->gridSize().width() * 2) {
        const int tiles = ThumbnailView1->gridSize().width() * 3 + 20;
        sizes[2] = std::max(100, sizes[2] - tiles);
        sizes[1] = tiles;
        Splitter1->setSizes(sizes);
      }
    }
  });
  auto* sides = new QActionGroup(this);
  SmallThumbnails1 = item("Small thumbnails (64 px)", "SmallThumbnails1");
  LargeThumbnails1 = item("Large thumbnails (128 px)", "LargeThumbnails1");
  for (QAction* action : {SmallThumbnails1, LargeThumbnails1}) {
    action->setCheckable(true);
    sides->addAction(action);
  }
  // The tile size chosen last time.
  const int side = ProgramSettings().value(kThumbnailSideKey, ThumbnailView::kSmall).toInt();
  ThumbnailView1->SetTileSide(side);
  (ThumbnailView1->TileSide() == ThumbnailView::kLarge ? LargeThumbnails1 : SmallThumbnails1)->setChecked(true);
  connect(sides, &QActionGroup::triggered, this, [this](QAction* chosen) {
    const int tileSide = chosen == LargeThumbnails1 ? ThumbnailView::kLarge : ThumbnailView::kSmall;
    ThumbnailView1->SetTileSide(tileSide);
    ProgramSettings().setValue(kThumbnailSideKey, tileSide);
  });
}

void TForm1::RefillThumbnails() {
  thumbnailRefillPending_ = false;
  if (busy_ || ThumbnailView1->isHidden()) return;
  QStringList names;
  names.reserve(ListBox1->count());
  for (int i = 0; i < ListBox1->count(); ++i) names.push_back(ListBox1->item(i)->text());
  ThumbnailView1->Refill(names);
  SelectTilesFromList();
}

void TForm1::ScheduleThumbnailRefill() {
  if (thumbnailRefillPending_ || ThumbnailView1->isHidden()) return;
  thumbnailRefillPending_ = true;
  QMetaObject::invokeMethod(this, [this] { RefillThumbnails(); }, Qt::QueuedConnection);
}

void TForm1::SelectTilesFromList() {
  if (syncingSelection_ || ThumbnailView1->isHidden() || thumbnailRefillPending_) return;
  const FlagGuard guard(syncingSelection_);
  QItemSelection selection;
  ThumbnailModel* model = ThumbnailView1->Model();
  for (const QModelIndex& row : ListBox1->selectionModel()->selectedRows()) {
    if (row.row() < model->rowCount()) selection.select(model->index(row.row()), model->index(row.row()));
  }
  QItemSelectionModel* tiles = ThumbnailView1->selectionModel();
  tiles->select(selection, QItemSelectionModel::ClearAndSelect);
  const int current = ListBox1->currentRow();
  if (current >= 0 && current < model->rowCount()) {
    tiles->setCurrentIndex(model->index(current), QItemSelectionModel::NoUpdate);
    ThumbnailView1->scrollTo(model->index(current));
  }
}

void TForm1::SelectListFromTiles() {
  if (syncingSelection_ || busy_) return;
  const FlagGuard guard(syncingSelection_);
  QItemSelectionModel* tiles = ThumbnailView1->selectionModel();
  const QModelIndexList rows = tiles->selectedIndexes();
  if (rows.isEmpty()) return;  // the list keeps one selected, as its clicks do
  const QModelIndex current = tiles->currentIndex();
  const int shown = current.isValid() && tiles->isSelected(current) ? current.row() : rows.first().row();
  if (shown >= ListBox1->count()) return;
  // The list takes the tiles' selection; the current one is shown, as a
  // user's choice in the list shows it.
  {
    const FlagGuard quiet(listUpdating_);
    QItemSelection selection;
    for (const QModelIndex& row : rows) {
      if (row.row() < ListBox1->count()) selection.select(ListBox1->model()->index(row.row(), 0), ListBox1->model()->index(row.row(), 0));
    }
    ListBox1->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    ListBox1->selectionModel()->setCurrentIndex(ListBox1->model()->index(shown, 0), QItemSelectionModel::Select);
  }
  ListBox1Click();
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
  StatusPalette->setMinimumWidth(1);
  StatusBar1->installEventFilter(this);
  ShowZoom();
  // The window grows by the status line: the client area keeps its size.
  resize(width(), height() + StatusBar1->sizeHint().height());
  Splitter1->setSizes({kGroupBox1Width, width() - kGroupBox1Width});
}

void TForm1::BuildKeys() {
  // The standard keys, shown beside the items.
  Open1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  Save1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  Export1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
  Quit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  // Alt+F, Alt+I and Alt+V open their menus and F10 the first; the menus
  // keep their captions.
  const std::pair<QMenu*, QKeySequence> menuKeys[] = {{File1, QKeySequence(Qt::ALT | Qt::Key_F)},
                                                       {Image2, QKeySequence(Qt::ALT | Qt::Key_I)},
                                                       {View1, QKeySequence(Qt::ALT | Qt::Key_V)},
                                                       {File1, QKeySequence(Qt::Key_F10)}};
  for (const auto& [menu, key] : menuKeys) {
    auto* shortcut = new QShortcut(key, this);
    connect(shortcut, &QShortcut::activated, this, [this, menu = menu] {
      if (!menu->isEnabled()) return;
      menuBar()->setFocus(Qt::ShortcutFocusReason);
      menuBar()->setActiveAction(menu->menuAction());
    });
  }
}

void TForm1::UpdateTitle() {
  const QString name = QFileInfo(QFile::decodeName(QByteArray::fromStdString(store_.loadedFileName))).fileName();
  if (name.isEmpty() && !store_.unsavedChanges) {
    setWindowTitle(QLatin1String(kProgramTitle));
    return;
  }
  setWindowTitle(name + (store_.unsavedChanges ? QStringLiteral("*") : QString()) + QStringLiteral(" \u2014 ") +
                 QLatin1String(kProgramTitle));
}

void TForm1::LayOutImageList() {
  // Growth beyond the window's first size goes to the list; the memo keeps
  // its height below it.
  const int grownWidth = std::max(0, GroupBox1->width() - kGroupBox1Width);
  const int firstHeight = kFormHeight - menuBar()->height();
  const int grownHeight = std::max(0, GroupBox1->height() - firstHeight);
  ListBox1->setGeometry(kListBox1Rect.adjusted(0, 0, grownWidth, grownHeight));
  Label2->move(kLabel2Pos + QPoint(0, grownHeight));
  Memo1->setGeometry(kMemo1Rect.translated(0, grownHeight).adjusted(0, 0, grownWidth, 0));
}

void TForm1::FitStatusPalette() {
  const int room = std::max(1, StatusPalette->width());
  StatusPalette->setText(StatusPalette->fontMetrics().elidedText(statusPalette_, Qt::ElideMiddle, room));
  StatusPalette->setToolTip(StatusPalette->text() == statusPalette_ ? QString() : statusPalette_);
}

void TForm1::ShowPictureFocus(bool focused) {
  // The panel's frame turns to the highlight colour while the picture has the focus.
  Panel1->setFrameShadow(focused ? QFrame::Plain : QFrame::Raised);
  QPalette palette = Panel1->palette();
  palette.setColor(QPalette::WindowText, focused ? palette.color(QPalette::Highlight) : QPalette().color(QPalette::WindowText));
  Panel1->setPalette(palette);
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
  if (watched == GroupBox1 && event->type() == QEvent::Resize) LayOutImageList();
  if ((watched == ListBox1->viewport() || watched == ThumbnailView1->viewport()) &&
      HandleDropOnImages(static_cast<QWidget*>(watched), event)) {
    return true;
  }
  if (watched == StatusBar1 && event->type() == QEvent::Resize) {
    QMetaObject::invokeMethod(this, [this] { FitStatusPalette(); }, Qt::QueuedConnection);
  }
  if (watched == ScrollBox1 && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
    ShowPictureFocus(event->type() == QEvent::FocusIn);
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (busy_ || !MayDiscardChanges()) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  // An image dragged out of this window does not come back as a file to load.
  if (!busy_ && event->source() == nullptr && DroppedFile(event->mimeData())) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  const std::optional<QString> path = DroppedFile(event->mimeData());
  if (!path || busy_ || event->source() != nullptr) return;
  event->acceptProposedAction();
  // The drag source waits for the drop to end: load after it, not inside it.
  QMetaObject::invokeMethod(this, [this, file = *path] { OpenPath(file); }, Qt::QueuedConnection);
}

int TForm1::DropRow(QWidget* viewport, QPoint at, const QMimeData* data) const {
  if (busy_) return -1;
  const std::optional<QString> path = DroppedFile(data);
  if (!path) return -1;
  const QString suffix = QFileInfo(*path).suffix().toLower();
  if (suffix != QLatin1String("png") && suffix != QLatin1String("bmp")) return -1;
  const QModelIndex index = viewport == ListBox1->viewport() ? ListBox1->indexAt(at) : ThumbnailView1->indexAt(at);
  return index.isValid() && index.row() < store_.imageCount ? index.row() : -1;
}

bool TForm1::HandleDropOnImages(QWidget* viewport, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      // Only files from elsewhere, onto an image: anything else goes on to the window.
      if (drag->source() != nullptr) {
        drag->ignore();
        return true;
      }
      if (DropRow(viewport, drag->position().toPoint(), drag->mimeData()) < 0) {
        // Over the list but not over an image: an archive dropped here loads.
        if (event->type() == QEvent::DragEnter && !busy_ && DroppedFile(drag->mimeData())) {
          drag->acceptProposedAction();
        } else if (event->type() == QEvent::DragMove) {
          drag->acceptProposedAction();
        }
        return true;
      }
      drag->setDropAction(Qt::CopyAction);
      drag->accept();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (drop->source() != nullptr) return true;
      const int row = DropRow(viewport, drop->position().toPoint(), drop->mimeData());
      const std::optional<QString> path = DroppedFile(drop->mimeData());
      if (!path) return true;
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      // The drag source waits for the drop to end: act after it.
      if (row >= 0) {
        QMetaObject::invokeMethod(this, [this, row, file = *path] { ImportDropped(row, file); }, Qt::QueuedConnection);
      } else {
        QMetaObject::invokeMethod(this, [this, file = *path] { OpenPath(file); }, Qt::QueuedConnection);
      }
      return true;
    }
    default: return false;
  }
}

bool TForm1::MayDiscardChanges() {
  return !store_.unsavedChanges ||
         AskQuestion(QStringLiteral("The images were changed and the changes are not saved. Discard them?"),
                     QStringLiteral("Discard"));
}

void TForm1::RunCommand(const std::function<void()>& command) {
  // The one place where a command's errors end: quarrendel::Error and every
  // other standard exception carry the text the user sees.
  // The progress panel ends with its command, before any error is shown.
  try {
    command();
  } catch (const CommandCancelled&) {
    // The user cancelled a dialog of the command: nothing to tell.
  } catch (const std::exception& e) {
    SetProgressVisible(false);
    ShowBox(BoxKind::Error, QString::fromUtf8(e.what()));
  } catch (...) {
    SetProgressVisible(false);
    ShowBox(BoxKind::Error, QStringLiteral("The command ended with an unknown error."));
  }
  SetProgressVisible(false);
  UpdateTitle();
}

void TForm1::RunLong(const std::function<void(FrontEnd&)>& command) {
  SetBusy(true);
  try {
    RunOffThread(*this, *this, command);
  } catch (...) {
    SetBusy(false);
    throw;
  }
  SetBusy(false);
}

void TForm1::SetBusy(bool busy) {
  busy_ = busy;
  // What would change the store, or read it while the command changes it.
  for (QMenu* menu : {File1, Image2}) {
    menu->setEnabled(!busy);
    menu->menuAction()->setEnabled(!busy);
  }
  // The items come back as they were (Add stays disabled for a package).
  if (busy) {
    disabledForCommand_.clear();
    for (QAction* action :
       {Open1, Save1, ExportPngPack1, NewFromPngPack1, Quit1, Export1, Exportall1, ExportSelected1, import1, Add1}) {
      if (!action->isEnabled()) continue;
      action->setEnabled(false);
      disabledForCommand_.push_back(action);
    }
  } else {
    for (QAction* action : disabledForCommand_) action->setEnabled(true);
    disabledForCommand_.clear();
  }
  ThumbnailView1->setEnabled(!busy);
  if (!busy) ScheduleThumbnailRefill();
  ListBox1->setEnabled(!busy);
  if (busy) {
    setCursor(Qt::BusyCursor);
  } else {
    unsetCursor();
  }
}

void TForm1::File1Click() {
  Save1->setText(store_.bmlFlag != 0 ? QStringLiteral("Rebuild") : QStringLiteral("Save"));
  ExportPngPack1->setEnabled(store_.imageCount > 0);
  UpdateFromPngPack1->setEnabled(store_.imageCount > 0);
}

void TForm1::Quit1Click() { close(); }

void TForm1::Image2Click() { Add1->setEnabled(store_.bmlFlag == 0); }

void TForm1::N2Click() { ExecModal(*Form4); }

// ---- Front end ----

std::optional<FileChoice> TForm1::AskFile(DialogId dialog, bool save, std::string_view filter, bool folder) {
  DialogState& state = dialogs_[static_cast<size_t>(dialog)];
  QStringList filters = QtNameFilters(filter);
  // Every open dialog can show any file; its other entries keep their places.
  if (!save) filters.push_back(QStringLiteral("All files (*)"));
  const FileDialogRequest request{dialog, save, filters, state.fileName, state.filterIndex, folder};
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
  dialog.setAcceptMode(request.save && !request.folder ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.folder ? QFileDialog::Directory
                     : request.save ? QFileDialog::AnyFile
                                    : QFileDialog::ExistingFile);
  if (request.folder) {
    // The folder is chosen; the kind of file comes from the filter list.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowTitle(QStringLiteral("Export all to folder"));
  }
  dialog.setNameFilters(request.filters);
  if (request.filterIndex >= 1 && request.filterIndex <= request.filters.size()) {
    dialog.selectNameFilter(request.filters[request.filterIndex - 1]);
  }
  if (request.folder && !request.fileName.isEmpty()) {
    dialog.setDirectory(QFileInfo(request.fileName).absolutePath());
  } else if (!request.fileName.isEmpty()) {
    dialog.selectFile(request.fileName);
  }
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
  box.setWindowTitle(kind == BoxKind::Information ? QStringLiteral("Information") : QStringLiteral("Quarrendel"));
  switch (kind) {
    case BoxKind::Plain: box.setIcon(QMessageBox::NoIcon); break;
    case BoxKind::Information: box.setIcon(QMessageBox::Information); break;
    case BoxKind::Error: box.setIcon(QMessageBox::Critical); break;
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
  if (!visible) {
    // A panel shown again starts without the last command's caption.
    Label1->clear();
    ProgressBar1->setValue(0);
  } else {
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
  StatusBar1->clearMessage();
  ScheduleThumbnailRefill();
}

void TForm1::ListAdd(std::string_view text) {
  FlagGuard guard(listUpdating_);
  auto* item = new QListWidgetItem(FromView(text));
  item->setToolTip(item->text());
  ListBox1->addItem(item);
  ScheduleThumbnailRefill();
}

void TForm1::ListDelete(int32_t index) {
  FlagGuard guard(listUpdating_);
  if (index >= 0 && index < ListCount()) delete ListBox1->takeItem(index);
  ScheduleThumbnailRefill();
}

int32_t TForm1::ListCount() const { return static_cast<int32_t>(ListBox1->count()); }

int32_t TForm1::ListSelectedIndex() const {
  // With several selected, the one last chosen: the image shown.
  const QModelIndex current = ListBox1->currentIndex();
  if (current.isValid() && ListBox1->selectionModel()->isSelected(current)) return static_cast<int32_t>(current.row());
  const QModelIndexList rows = ListBox1->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : static_cast<int32_t>(rows.first().row());
}

void TForm1::ListSetSelectedIndex(int32_t index) {
  if (keepSelection_) return;
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
  statusPalette_ = FromView(status.palette);
  FitStatusPalette();

  const bool shown = status.width > 0 || status.height > 0 || !status.name.empty();
  PropertyPanel1->setEnabled(shown);
  NameEdit1->setText(shown ? FromView(status.name) : QString());
  IndexEdit1->setText(shown ? QString::number(status.globalIndex) : QString());
  NameEdit1->setModified(false);
  IndexEdit1->setModified(false);
  FormatValue1->setText(shown ? QStringLiteral("%1").arg(status.formatWord, 8, 16, QLatin1Char('0')).toUpper() : QString());
  SizeValue1->setText(shown ? QStringLiteral("%1 x %2").arg(status.width).arg(status.height) : QString());
  LevelsValue1->setText(shown ? QString::number(status.levels) : QString());
  const QString palette = status.palette.empty() ? (shown ? QStringLiteral("none") : QString()) : FromView(status.palette);
  PaletteValue1->setText(palette);
  PaletteValue1->setToolTip(palette);
}

ImportOptions TForm1::RunImportOptions(const ImportOptionsRequest& request) {
  Form2->Prepare(request);
  ExecModal(*Form2);
  if (Form2->Cancelled()) throw CommandCancelled{};
  return Form2->Options();
}

}  // namespace quarrendel::ui
