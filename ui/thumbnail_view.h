// The Thumbnails view: every image of the list as a tile of 64 or 128
// pixels, the texture fitted into it over the checkerboard with its channels
// stretched to the full range (as the picture shows it), its name and size
// below. Tiles are decoded on the worker pool when they first come into
// sight and kept until the images change; nothing is decoded while a command
// has the store to itself.
#pragma once

#include <QAbstractListModel>
#include <QImage>
#include <QListView>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "core/image_store.h"

namespace quarrendel {
class WorkerPool;
}

class QMimeData;

namespace quarrendel::ui {

// The tile of entry `index`: side x side, the texture's W x H fitted inside
// (nearest texel), transparent around it. Reads only the store.
QImage ThumbnailImage(const ImageStore& store, int32_t index, int side);

class ThumbnailModel : public QAbstractListModel {
 public:
  explicit ThumbnailModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The list's names with the entries' sizes ("" where an item names no image).
  void SetItems(const QStringList& names, const QStringList& sizes);
  // Forgets every tile.
  void ForgetTiles();
  bool HasTile(int row) const;
  void SetTile(int row, const QImage& tile);
  int TileCount() const;
  // What a tile not decoded yet shows: an empty picture of the tile's size,
  // so every item is laid out with room for its tile and its two lines.
  void SetPlaceholder(const QPixmap& placeholder) { placeholder_ = placeholder; }
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  QStringList mimeTypes() const override;
  // Makes what a drag of these rows carries.
  std::function<QMimeData*(const std::vector<int>&)> dragImages;

 private:
  QStringList names_;
  QStringList sizes_;
  std::vector<QPixmap> tiles_;  // null where not decoded yet
  int tileCount_ = 0;
  QPixmap placeholder_;
};

class ThumbnailView : public QListView {
 public:
  static constexpr int kSmall = 64;
  static constexpr int kLarge = 128;

  // `mayDecode` says whether the store may be read now.
  ThumbnailView(const ImageStore& store, std::function<bool()> mayDecode, QWidget* parent = nullptr);
  ~ThumbnailView() override;

  ThumbnailModel* Model() const { return model_; }
  // kSmall or kLarge; the tiles are decoded again at the new size.
  void SetTileSide(int side);
  int TileSide() const { return side_; }
  // Takes the list's items and forgets the tiles (the images changed).
  void Refill(const QStringList& names);
  // Decodes the tiles in sight that are not decoded yet (paintEvent does it first).
  void DecodeVisible();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const ImageStore& store_;
  std::function<bool()> mayDecode_;
  ThumbnailModel* model_;
  std::unique_ptr<WorkerPool> pool_;
  int side_ = kSmall;
};

}  // namespace quarrendel::ui
