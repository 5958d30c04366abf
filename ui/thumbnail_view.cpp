// The worker pool names a local "slots", which Qt defines as a keyword: before Qt.
#include "core/worker_pool.h"

#include "ui/thumbnail_view.h"

#include <QMimeData>
#include <QPaintEvent>
#include <QScrollBar>
#include <algorithm>
#include <exception>

#include "texture/full_range.h"
#include "texture/image_selection.h"
#include "texture/texture_decode.h"

namespace quarrendel::ui {

namespace {

// The name's line and the size's line below each tile.
constexpr int kTextLines = 2;
constexpr int kTileMargin = 8;

}  // namespace

QImage ThumbnailImage(const ImageStore& store, int32_t index, int side) {
  QImage tile(side, side, QImage::Format_ARGB32_Premultiplied);
  tile.fill(Qt::transparent);
  texture::DecodedTexture decoded;
  try {
    decoded = texture::DecodeEntry(store, index);
  } catch (const std::exception&) {
    return tile;  // damaged data: an empty tile, as the picture shows nothing
  }
  const texture::RgbaRect rect = decoded.TrueSize();
  if (rect.width <= 0 || rect.height <= 0 || rect.first == nullptr) return tile;
  // Fitted, keeping the proportions, nearest texel.
  const int longer = std::max(rect.width, rect.height);
  const int w = std::max(1, rect.width * side / longer);
  const int h = std::max(1, rect.height * side / longer);
  const int left = (side - w) / 2;
  const int top = (side - h) / 2;
  const texture::TexelDepths& depths = decoded.depths;
  for (int y = 0; y < h; ++y) {
    const uint32_t* texels = rect.Row(static_cast<int32_t>(static_cast<int64_t>(y) * rect.height / h));
    auto* out = reinterpret_cast<uint32_t*>(tile.scanLine(top + y)) + left;
    for (int x = 0; x < w; ++x) {
      const uint32_t texel = texels[static_cast<int64_t>(x) * rect.width / w];
      // 8-pixel squares: the tile's checkerboard at the tile's scale.
      const uint32_t shown =
          texture::BlendOverBackground(texture::StretchPixel(texel, depths), texture::CheckerboardColour(x * 2, y * 2));
      out[x] = 0xFF000000u | ((shown & 0xFFu) << 16) | (shown & 0xFF00u) | ((shown >> 16) & 0xFFu);
    }
  }
  return tile;
}

int ThumbnailModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(names_.size());
}

QVariant ThumbnailModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= names_.size()) return {};
  const int row = index.row();
  switch (role) {
    case Qt::DisplayRole: return sizes_[row].isEmpty() ? names_[row] : names_[row] + QLatin1Char('\n') + sizes_[row];
    case Qt::ToolTipRole: return names_[row];
    case Qt::DecorationRole:
      if (!tiles_[static_cast<size_t>(row)].isNull()) return tiles_[static_cast<size_t>(row)];
      return placeholder_;
    default: return {};
  }
}

Qt::ItemFlags ThumbnailModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

void ThumbnailModel::SetItems(const QStringList& names, const QStringList& sizes) {
  beginResetModel();
  names_ = names;
  sizes_ = sizes;
  tiles_.assign(static_cast<size_t>(names.size()), QPixmap());
  tileCount_ = 0;
  endResetModel();
}

void ThumbnailModel::ForgetTiles() {
  tiles_.assign(tiles_.size(), QPixmap());
  tileCount_ = 0;
  if (!names_.isEmpty()) emit dataChanged(index(0), index(static_cast<int>(names_.size()) - 1), {Qt::DecorationRole});
}

bool ThumbnailModel::HasTile(int row) const {
  return row >= 0 && static_cast<size_t>(row) < tiles_.size() && !tiles_[static_cast<size_t>(row)].isNull();
}

void ThumbnailModel::SetTile(int row, const QImage& tile) {
  if (row < 0 || static_cast<size_t>(row) >= tiles_.size()) return;
  if (tiles_[static_cast<size_t>(row)].isNull()) ++tileCount_;
  tiles_[static_cast<size_t>(row)] = QPixmap::fromImage(tile);
}

int ThumbnailModel::TileCount() const { return tileCount_; }

QStringList ThumbnailModel::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData* ThumbnailModel::mimeData(const QModelIndexList& indexes) const {
  if (!dragImages) return nullptr;
  std::vector<int> rows;
  for (const QModelIndex& index : indexes) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return dragImages(rows);
}

ThumbnailView::ThumbnailView(const ImageStore& store, std::function<bool()> mayDecode, QWidget* parent)
    : QListView(parent),
      store_(store),
      mayDecode_(std::move(mayDecode)),
      model_(new ThumbnailModel(this)),
      pool_(std::make_unique<WorkerPool>()) {
  setModel(model_);
  setViewMode(QListView::IconMode);
  setMovement(QListView::Static);
  setResizeMode(QListView::Adjust);
  setFlow(QListView::LeftToRight);
  setWrapping(true);
  setUniformItemSizes(true);
  setLayoutMode(QListView::Batched);
  setBatchSize(500);
  setTextElideMode(Qt::ElideMiddle);
  setWordWrap(false);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setDragEnabled(true);
  setDragDropMode(QAbstractItemView::DragOnly);
  setDefaultDropAction(Qt::CopyAction);
  SetTileSide(kSmall);
}

ThumbnailView::~ThumbnailView() = default;

void ThumbnailView::SetTileSide(int side) {
  side_ = side == kLarge ? kLarge : kSmall;
  setIconSize(QSize(side_, side_));
  QPixmap placeholder(side_, side_);
  placeholder.fill(Qt::transparent);
  model_->SetPlaceholder(placeholder);
  const int textHeight = fontMetrics().lineSpacing() * kTextLines;
  setGridSize(QSize(side_ + kTileMargin * 2, side_ + textHeight + kTileMargin));
  verticalScrollBar()->setSingleStep(gridSize().height() / 4);
  model_->ForgetTiles();
  viewport()->update();
}

void ThumbnailView::Refill(const QStringList& names) {
  QStringList sizes;
  sizes.reserve(names.size());
  for (int i = 0; i < names.size(); ++i) {
    if (i < store_.imageCount) {
      const TImage_Entry& entry = store_.images[static_cast<size_t>(i)];
      sizes.push_back(QStringLiteral("%1 x %2").arg(entry.Width).arg(entry.Height));
    } else {
      sizes.push_back(QString());
    }
  }
  model_->SetItems(names, sizes);
}

void ThumbnailView::DecodeVisible() {
  const int count = model_->rowCount();
  if (count == 0 || (mayDecode_ && !mayDecode_())) return;
  const QRect shown = viewport()->rect();
  // The grid is filled row by row: the rows in sight follow from the first tile in sight.
  const QSize grid = gridSize();
  const int perRow = std::max(1, shown.width() / std::max(1, grid.width()));
  const int firstRow = std::max(0, verticalOffset() / std::max(1, grid.height()) - 1);
  const int rows = shown.height() / std::max(1, grid.height()) + 3;
  const int first = std::min(count, firstRow * perRow);
  const int last = std::min(count, (firstRow + rows) * perRow);
  std::vector<int> missing;
  for (int row = first; row < last; ++row) {
    if (model_->HasTile(row) || row >= store_.imageCount) continue;
    if (!visualRect(model_->index(row)).intersects(shown)) continue;
    missing.push_back(row);
  }
  if (missing.empty()) return;
  const int side = side_;
  pool_->OrderedMap(
      missing.size(), 2 * static_cast<size_t>(pool_->Threads()),
      [&](size_t i) { return ThumbnailImage(store_, missing[i], side); },
      [&](size_t i, QImage&& tile) { model_->SetTile(missing[i], tile); });
}

void ThumbnailView::paintEvent(QPaintEvent* event) {
  DecodeVisible();
  QListView::paintEvent(event);
}

}  // namespace quarrendel::ui
