// The main window: the image list with its count label and the description
// memo on the left, the picture and the progress panel on the right, the
// File / Image / View / "?" menu bar and a status line. Every command runs
// through the front-end interface this window implements, the same commands
// the CLI runs.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/frontend.h"
#include "core/image_store.h"
#include "ui/recent_files.h"

class QAction;
class QActionGroup;
class QDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMimeData;
class QTemporaryDir;
class QPlainTextEdit;
class QProgressBar;
class QSplitter;
class QStatusBar;

namespace quarrendel::ui {

class PictureArea;
class PictureView;
class ThumbnailView;
class TForm2;
class TForm4;

class TForm1 : public QMainWindow, public FrontEnd {
 public:
  // The store belongs to the caller and must outlive the window.
  explicit TForm1(ImageStore& store, QWidget* parent = nullptr);
  ~TForm1() override;

  // Runs one command; an error it raises is shown in a box with its text and
  // the command ends there, the window staying usable.
  void RunCommand(const std::function<void()>& command);

  // Loads `path` as File > Load does with that file chosen, first asking
  // whether unsaved changes may go; a file that loads joins the recent files.
  // Starting with a file, a dropped file and a recent file come this way.
  void OpenPath(const QString& path);
  // True when nothing unsaved would be lost, or the user agrees to lose it.
  bool MayDiscardChanges();
  // A long command runs off the window's thread: the File and Image menus
  // and the list are disabled, drops and closing wait for its end.
  bool CommandRunning() const { return busy_; }

  // Handlers.
  void FormCreate();
  void FormClose();
  void File1Click();
  void Open1Click();
  void Save1Click();
  void ExportPngPack1Click();
  void NewFromPngPack1Click();
  void UpdateFromPngPack1Click();
  void Quit1Click();
  void Image2Click();
  void Export1Click();
  void Exportall1Click();
  void ExportSelected1Click();
  void import1Click();
  void Add1Click();
  void N2Click();
  void ListBox1Click();
  // A name or global index typed into the property panel.
  void PropertiesEdited();
  // What a drag of the images `rows` out of the list or the thumbnails
  // carries: each written as NAME.png (the PNG export) into a folder of the
  // window's own; nullptr while a command runs or when none was written.
  QMimeData* DragImages(const std::vector<int>& rows);
  // A PNG or bitmap dropped onto image `row`: imported into it as Image >
  // Import does, with the same prompts.
  void ImportDropped(int row, const QString& path);

  // FrontEnd.
  std::optional<FileChoice> AskOpenFile(DialogId dialog, std::string_view filter) override;
  std::optional<FileChoice> AskSaveFile(DialogId dialog, std::string_view filter) override;
  void SetDialogFileName(DialogId dialog, std::string_view name) override;
  void ShowMessage(std::string_view text) override;
  void ShowInformation(std::string_view text) override;
  void SetProgressVisible(bool visible) override;
  void SetProgress(std::string_view caption, int32_t maximum, int32_t position) override;
  void ListClear() override;
  void ListAdd(std::string_view text) override;
  void ListDelete(int32_t index) override;
  int32_t ListCount() const override;
  int32_t ListSelectedIndex() const override;
  void ListSetSelectedIndex(int32_t index) override;
  void SetLabel(std::string_view text) override;
  void SetMemo(const std::vector<std::string>& lines) override;
  void ShowPicture(const Picture& picture) override;
  void HandOverPicture(Picture& picture) override;
  // The picture view paints the decoded pixels itself.
  PictureParts ShownPictureParts() const override { return PictureParts::Decoded; }
  void ShowStatus(const ImageStatus& status) override;
  ImportOptions RunImportOptions(const ImportOptionsRequest& request) override;

  // Controls, named as the forms name them.
  QSplitter* Splitter1;  // between the image list and the picture
  QGroupBox* GroupBox1;
  QListWidget* ListBox1;
  QLabel* Label2;
  QPlainTextEdit* Memo1;
  QFrame* Panel1;
  PictureArea* ScrollBox1;  // scrolls Image1 when it is larger than the panel
  PictureView* Image1;
  ThumbnailView* ThumbnailView1;
  // The property panel under the picture: the selected texture's name and
  // global index to edit, its format word, size, levels and palette file.
  QGroupBox* PropertyPanel1;
  QLineEdit* NameEdit1;
  QLineEdit* IndexEdit1;
  QLabel* FormatValue1;
  QLabel* SizeValue1;
  QLabel* LevelsValue1;
  QLabel* PaletteValue1;
  QFrame* Panel2;
  QLabel* Label1;
  QProgressBar* ProgressBar1;
  QStatusBar* StatusBar1;
  QLabel* StatusSize;
  QLabel* StatusFormat;
  QLabel* StatusPalette;
  QLabel* StatusZoom;

  QMenu* File1;
  QAction* Open1;
  QAction* Save1;
  QAction* ExportPngPack1;
  QAction* NewFromPngPack1;
  QAction* UpdateFromPngPack1;
  QMenu* Recent1;
  QAction* N1;
  QAction* Quit1;
  QMenu* Image2;
  QAction* Export1;
  QAction* Exportall1;
  QAction* ExportSelected1;  // the images selected in the list or the thumbnails, to a folder
  QAction* import1;
  QAction* Add1;
  QMenu* View1;
  QAction* Zoom1x;
  QAction* Zoom2x;
  QAction* Zoom4x;
  QAction* Zoom8x;
  QAction* ZoomFit;
  QAction* ZoomIn1;
  QAction* ZoomOut1;
  QAction* AlphaOnly1;
  QAction* ColoursOnly1;
  QAction* Thumbnails1;      // the Thumbnails view beside the list (Ctrl+T)
  QAction* SmallThumbnails1;  // 64-pixel tiles
  QAction* LargeThumbnails1;  // 128-pixel tiles
  QAction* N2;

  RecentFiles recentFiles;

  TForm2* Form2;
  TForm4* Form4;

 protected:
  enum class BoxKind { Plain, Information, Error };

  struct FileDialogRequest {
    DialogId dialog;
    bool save;
    QStringList filters;  // Qt name filters, in the order of the command's list
    QString fileName;     // the name chosen last time in this dialog
    int filterIndex;      // 1-based entry selected when the dialog opens
    bool folder = false;  // a folder chooser (Export all): the answer names the folder
  };

  // The modal boxes and dialogs; tests override these to answer without
  // opening anything.
  virtual void ShowBox(BoxKind kind, const QString& text);
  // A question with two answers; true for the one that goes ahead.
  virtual bool AskQuestion(const QString& text, const QString& goAhead);
  virtual std::optional<FileChoice> RunFileDialog(const FileDialogRequest& request);
  virtual void ExecModal(QDialog& dialog);

  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct DialogState {
    QString fileName;
    int filterIndex = 1;
  };

  void BuildControls();
  void BuildMenus();
  void BuildViewMenu();
  void BuildStatusBar();
  void BuildPropertyPanel(QWidget* parent);
  void FillRecentMenu();
  void ShowZoom();
  void BuildKeys();
  std::optional<FileChoice> AskFile(DialogId dialog, bool save, std::string_view filter, bool folder = false);
  // The loaded file's name, with "*" while there are unsaved changes, before the program's name.
  void UpdateTitle();
  // The list and the memo grow with the group box; the memo keeps its height.
  void LayOutImageList();
  // The palette notice cut to the room it has, whole in its tooltip.
  void FitStatusPalette();
  void ShowPictureFocus(bool focused);
  // Runs `command` off the window's thread (RunOffThread) with the store to
  // itself; the window's thread keeps its event loop meanwhile.
  void RunLong(const std::function<void(FrontEnd&)>& command);
  void SetBusy(bool busy);
  // Export all (every listed image) or Export selected (`rows`) into a chosen folder.
  void ExportToFolder(const std::optional<std::vector<int32_t>>& rows);
  // The Thumbnails view takes the list's items again (after the event loop
  // comes back, and not while a command has the store).
  void RefillThumbnails();
  void ScheduleThumbnailRefill();
  // The Thumbnails view's selection follows the list's, and the other way round.
  void SelectTilesFromList();
  void SelectListFromTiles();

  ImageStore& store_;
  std::array<DialogState, kDialogCount> dialogs_;
  // Set while the front end changes the list, so only the user's selections run ListBox1Click.
  bool listUpdating_ = false;
  // Whether the current mouse press on the list changed its selection.
  bool selectionChangedByPress_ = false;
  QActionGroup* zoomGroup_ = nullptr;  // the View menu's zoom items, each with its zoom as data
  // The file chosen in the load dialog during the present command.
  std::optional<QString> loadChoice_;
  // Set while Export all runs: the list's selection stays where the user left it.
  bool keepSelection_ = false;
  bool busy_ = false;  // a command runs off the window's thread
  std::vector<QAction*> disabledForCommand_;
  bool thumbnailRefillPending_ = false;
  bool syncingSelection_ = false;
  std::unique_ptr<QTemporaryDir> dragFolder_;  // where dragged images are written
  // The image row under a drag of a PNG or bitmap file over `viewport`, or -1.
  int DropRow(QWidget* viewport, QPoint at, const QMimeData* data) const;
  bool HandleDropOnImages(QWidget* viewport, QEvent* event);
  QString statusPalette_;  // the whole palette notice
};

}  // namespace quarrendel::ui
