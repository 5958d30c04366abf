#include "ui/picture_view.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cstring>
#include <iterator>

#include "texture/full_range.h"
#include "texture/image_selection.h"

namespace quarrendel::ui {

namespace {

// A painted colour (red in bits 0-7) as an opaque QImage::Format_RGB32 word.
uint32_t ToRgb32(uint32_t colour) {
  return 0xFF000000u | ((colour & 0xFFu) << 16) | (colour & 0xFF00u) | ((colour >> 16) & 0xFFu);
}

// One wheel notch.
constexpr int kWheelStep = 120;

}  // namespace

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
  // Every pixel of the widget is painted: no background fill first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::SetPicture(const Picture& picture) {
  const int32_t w = picture.width;
  const int32_t h = picture.height;
  const size_t count = w > 0 && h > 0 ? static_cast<size_t>(w) * static_cast<size_t>(h) : 0;
  if (count == 0 || (picture.pixels.size() < count && picture.decoded.size() < count)) {
    width_ = 0;
    height_ = 0;
    pixels_.clear();
    stretch_ = false;
  } else {
    width_ = w;
    height_ = h;
    if (picture.decoded.size() >= count) {
      pixels_.assign(picture.decoded.begin(), picture.decoded.begin() + static_cast<std::ptrdiff_t>(count));
      TakeBits(picture.bits);
    } else {
      pixels_.resize(count);
      std::transform(picture.pixels.begin(), picture.pixels.begin() + static_cast<std::ptrdiff_t>(count),
                     pixels_.begin(), [](uint32_t v) { return v | 0xFF000000u; });
      stretch_ = false;
    }
  }
  update();
}

void PictureView::TakePicture(Picture& picture) {
  const int32_t w = picture.width;
  const int32_t h = picture.height;
  const size_t count = w > 0 && h > 0 ? static_cast<size_t>(w) * static_cast<size_t>(h) : 0;
  if (count == 0 || picture.decoded.size() < count) {
    SetPicture(picture);
    return;
  }
  width_ = w;
  height_ = h;
  pixels_.swap(picture.decoded);
  TakeBits(picture.bits);
  update();
}

void PictureView::TakeBits(const ChannelBits& b) {
  // Each channel stretched to the full range when painted, as PNG export
  // writes it: opaque texels hide the checkerboard, white is white.
  stretch_ = b.red != 8 || b.green != 8 || b.blue != 8 || b.alpha != 8 || b.rgb5a3;
  if (stretch_) stretchPixel_ = texture::PixelStretch(texture::TexelDepths{b.red, b.green, b.blue, b.alpha, b.rgb5a3});
}

void PictureView::SetChannels(Channels channels) {
  channels_ = channels;
  update();
}

QImage PictureView::Render(const QRect& area) const {
  QImage image(area.size(), QImage::Format_RGB32);
  if (image.isNull()) return image;
  const int shownWidth = width();
  const int shownHeight = height();
  if (!HasPicture() || shownWidth <= 0 || shownHeight <= 0) {
    image.fill(palette().color(QPalette::Window));
    return image;
  }
  const Channels channels = channels_;
  const bool stretch = stretch_;
  const texture::PixelStretch& stretchPixel = stretchPixel_;
  auto shown = [channels, stretch, &stretchPixel](uint32_t v) {
    if (stretch) v = stretchPixel(v);
    switch (channels) {
      case Channels::AlphaOnly: return 0xFF000000u | (v >> 24) * 0x010101u;
      case Channels::ColoursOnly: return v | 0xFF000000u;
      case Channels::Blended: break;
    }
    return v;
  };

  const int columns = area.width();
  uchar* bits = image.bits();
  const qsizetype stride = image.bytesPerLine();
  if (shownWidth == width_ && shownHeight == height_) {
    // At 1x every screen pixel is its own texel.
    for (int r = 0; r < area.height(); ++r) {
      const int32_t y = area.y() + r;
      const uint32_t evenSquare = texture::CheckerboardColour(0, y);
      const uint32_t oddSquare = texture::CheckerboardColour(16, y);
      const uint32_t* texels = pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_) + area.x();
      auto* out = reinterpret_cast<uint32_t*>(bits + r * stride);
      for (int c = 0; c < columns; ++c) {
        const uint32_t background = ((area.x() + c) & 16) != 0 ? oddSquare : evenSquare;
        out[c] = ToRgb32(texture::BlendOverBackground(shown(texels[c]), background));
      }
    }
    return image;
  }
  // The texel under each screen column; screen pixel (x, y) of a picture
  // shown sw x sh shows texel (x * W / sw, y * H / sh).
  std::vector<int32_t> texelX(static_cast<size_t>(columns));
  for (int c = 0; c < columns; ++c) {
    const int64_t x = area.x() + c;
    texelX[static_cast<size_t>(c)] = static_cast<int32_t>(std::clamp<int64_t>(x * width_ / shownWidth, 0, width_ - 1));
  }
  int32_t lastTexelY = -1;
  uint32_t lastSquares = 0;
  for (int r = 0; r < area.height(); ++r) {
    const int32_t y = area.y() + r;
    const auto texelY = static_cast<int32_t>(std::clamp<int64_t>(int64_t{y} * height_ / shownHeight, 0, height_ - 1));
    auto* out = reinterpret_cast<uint32_t*>(bits + r * stride);
    // The checkerboard's squares are 16 screen pixels wide: within one row,
    // the colour at x is that of column 0 or of column 16, by bit 4 of x.
    const uint32_t evenSquare = texture::CheckerboardColour(0, y);
    const uint32_t oddSquare = texture::CheckerboardColour(16, y);
    // A row showing the same texels over the same squares as the row above is a copy of it.
    if (r > 0 && texelY == lastTexelY && evenSquare == lastSquares) {
      std::memcpy(out, bits + (r - 1) * stride, static_cast<size_t>(columns) * 4);
      continue;
    }
    lastTexelY = texelY;
    lastSquares = evenSquare;
    const uint32_t* texels = pixels_.data() + static_cast<size_t>(texelY) * static_cast<size_t>(width_);
    int32_t lastTexel = -1;
    uint32_t lastBackground = 0;
    uint32_t colour = 0;
    for (int c = 0; c < columns; ++c) {
      const int32_t tx = texelX[static_cast<size_t>(c)];
      const uint32_t background = ((area.x() + c) & 16) != 0 ? oddSquare : evenSquare;
      if (tx != lastTexel || background != lastBackground) {
        colour = ToRgb32(texture::BlendOverBackground(shown(texels[tx]), background));
        lastTexel = tx;
        lastBackground = background;
      }
      out[c] = colour;
    }
  }
  return image;
}

void PictureView::paintEvent(QPaintEvent* event) {
  const QRect area = event->rect() & rect();
  if (area.isEmpty()) return;
  QPainter painter(this);
  painter.drawImage(area.topLeft(), Render(area));
}

PictureArea::PictureArea(QWidget* parent) : QScrollArea(parent), view_(new PictureView) {
  setFrameShape(QFrame::NoFrame);
  setBackgroundRole(QPalette::Window);
  viewport()->setBackgroundRole(QPalette::Window);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setWidgetResizable(false);
  view_->resize(0, 0);
  setWidget(view_);
}

QSize PictureArea::ShownSize() const {
  const QSize picture = view_->PictureSize();
  if (!view_->HasPicture()) return {0, 0};
  if (zoom_ != kFit) return picture * zoom_;
  // Fitted: enlarged by the largest whole factor that fits, so every texel
  // stays a square of equal pixels; shrunk to the panel when larger than it.
  const QSize room = maximumViewportSize();
  const int64_t w = picture.width();
  const int64_t h = picture.height();
  const int64_t roomWidth = std::max(room.width(), 1);
  const int64_t roomHeight = std::max(room.height(), 1);
  if (w <= roomWidth && h <= roomHeight) return picture * static_cast<int>(std::min(roomWidth / w, roomHeight / h));
  if (roomWidth * h <= roomHeight * w) {
    return {static_cast<int>(roomWidth), static_cast<int>(std::max<int64_t>(1, h * roomWidth / w))};
  }
  return {static_cast<int>(std::max<int64_t>(1, w * roomHeight / h)), static_cast<int>(roomHeight)};
}

QPoint PictureArea::ViewportCentre() const { return viewport()->rect().center(); }

void PictureArea::SetZoom(int zoom) { SetZoom(zoom, ViewportCentre()); }

void PictureArea::SetZoom(int zoom, QPoint anchor) {
  if (zoom != kFit && std::find(std::begin(kFactors), std::end(kFactors), zoom) == std::end(kFactors)) return;
  // Where the anchor points into the picture, as a share of its width and height.
  const QSize before = view_->size();
  const double shareX = before.width() > 0 ? (anchor.x() + horizontalScrollBar()->value()) / double(before.width()) : 0;
  const double shareY = before.height() > 0 ? (anchor.y() + verticalScrollBar()->value()) / double(before.height()) : 0;
  zoom_ = zoom;
  const QSize after = ShownSize();
  view_->resize(after);
  horizontalScrollBar()->setValue(static_cast<int>(shareX * after.width()) - anchor.x());
  verticalScrollBar()->setValue(static_cast<int>(shareY * after.height()) - anchor.y());
  view_->update();
  if (onZoomChanged) onZoomChanged();
}

void PictureArea::ZoomIn(QPoint anchor) {
  const QSize picture = view_->PictureSize();
  // The present scale as a fraction shown / picture, compared without rounding.
  const int64_t shown = view_->HasPicture() ? view_->width() : zoom_ == kFit ? 1 : zoom_;
  const int64_t side = view_->HasPicture() ? picture.width() : 1;
  for (int factor : kFactors) {
    if (factor * side > shown) {
      SetZoom(factor, anchor);
      return;
    }
  }
}

void PictureArea::ZoomOut(QPoint anchor) {
  const QSize picture = view_->PictureSize();
  const int64_t shown = view_->HasPicture() ? view_->width() : zoom_ == kFit ? 1 : zoom_;
  const int64_t side = view_->HasPicture() ? picture.width() : 1;
  for (auto factor = std::rbegin(kFactors); factor != std::rend(kFactors); ++factor) {
    if (*factor * side < shown) {
      SetZoom(*factor, anchor);
      return;
    }
  }
}

QString PictureArea::ZoomText() const {
  if (zoom_ != kFit) return QStringLiteral("%1x").arg(zoom_);
  const QSize picture = view_->PictureSize();
  if (!view_->HasPicture()) return QStringLiteral("Fit");
  const int shown = view_->width();
  if (shown >= picture.width() && shown % picture.width() == 0) {
    return QStringLiteral("Fit %1x").arg(shown / picture.width());
  }
  return QStringLiteral("Fit %1%").arg(qRound(100.0 * shown / picture.width()));
}

void PictureArea::Refresh() {
  view_->resize(ShownSize());
  view_->update();
  if (zoom_ == kFit && onZoomChanged) onZoomChanged();
}

void PictureArea::wheelEvent(QWheelEvent* event) {
  if (!(event->modifiers() & Qt::ControlModifier)) {
    QScrollArea::wheelEvent(event);
    return;
  }
  // Touchpads send fractions of a notch: zoom once per whole notch.
  wheelTurn_ += event->angleDelta().y();
  const QPoint anchor = event->position().toPoint();
  while (wheelTurn_ >= kWheelStep) {
    wheelTurn_ -= kWheelStep;
    ZoomIn(anchor);
  }
  while (wheelTurn_ <= -kWheelStep) {
    wheelTurn_ += kWheelStep;
    ZoomOut(anchor);
  }
  event->accept();
}

void PictureArea::resizeEvent(QResizeEvent* event) {
  QScrollArea::resizeEvent(event);
  if (zoom_ == kFit) Refresh();
}

}  // namespace quarrendel::ui
