// The picture of the selected image: its decoded pixels painted over the
// transparency checkerboard at 1x, 2x, 4x, 8x or fitted to the panel, one
// texel becoming a block of screen pixels (nearest texel, no smoothing). The
// checkerboard keeps its 16-pixel squares on screen whatever the zoom, so each
// screen pixel blends its texel over its own square. Only the part on screen
// is painted, so an 8x view of a 2048 x 2048 texture costs what the panel
// holds. The alpha channel can be shown alone (as grey) or the colours alone.
#pragma once

#include <QImage>
#include <QScrollArea>
#include <QSize>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/frontend.h"
#include "texture/full_range.h"

namespace quarrendel::ui {

enum class Channels { Blended, AlphaOnly, ColoursOnly };

// The picture itself; its widget size is the shown size.
class PictureView : public QWidget {
 public:
  explicit PictureView(QWidget* parent = nullptr);

  // Keeps a copy of the decoded pixels (painted with their channels stretched
  // to the full range by picture.bits) or, without them, of the painted ones
  // as opaque pixels, in memory kept from one picture to the next. An empty
  // picture shows nothing.
  void SetPicture(const Picture& picture);
  // SetPicture, taking the decoded pixels' memory in exchange for the memory
  // that held the last picture's (left in picture.decoded).
  void TakePicture(Picture& picture);
  bool HasPicture() const { return width_ > 0 && height_ > 0; }
  QSize PictureSize() const { return {width_, height_}; }

  void SetChannels(Channels channels);

  // The widget's pixels in `area` (widget coordinates, inside its rectangle)
  // as they are painted at its present size.
  QImage Render(const QRect& area) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void TakeBits(const ChannelBits& bits);

  int32_t width_ = 0;
  int32_t height_ = 0;
  std::vector<uint32_t> pixels_;  // row-major, red in bits 0-7, alpha in 24-31
  // The bits each channel of pixels_ was stored with: painting stretches
  // them to the full range, as PNG export writes them.
  texture::PixelStretch stretchPixel_;
  bool stretch_ = false;
  Channels channels_ = Channels::Blended;
};

// The scrolled panel around the picture: the zoom, scroll bars when the
// picture is larger than the panel, Ctrl+wheel to zoom.
class PictureArea : public QScrollArea {
 public:
  static constexpr int kFit = 0;                  // zoom: the whole picture in the panel
  static constexpr int kFactors[] = {1, 2, 4, 8};  // the fixed zoom factors

  explicit PictureArea(QWidget* parent = nullptr);

  PictureView* View() const { return view_; }

  // kFit or one of kFactors; anything else is ignored. The texel under
  // `anchor` (viewport coordinates; default: the viewport's centre) stays
  // where it is.
  void SetZoom(int zoom);
  void SetZoom(int zoom, QPoint anchor);
  int Zoom() const { return zoom_; }
  // To the next factor above (below) the present scale, fit included; at 8x
  // (1x) nothing changes.
  void ZoomIn(QPoint anchor);
  void ZoomOut(QPoint anchor);
  // "1x" .. "8x"; fitted: "Fit 3x", or "Fit 25%" when the picture is shrunk.
  QString ZoomText() const;

  // Sizes the view to its picture at the present zoom (after a new picture).
  void Refresh();

  // Called after every change of zoom.
  std::function<void()> onZoomChanged;

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QSize ShownSize() const;
  QPoint ViewportCentre() const;

  PictureView* view_;
  int zoom_ = 1;
  int wheelTurn_ = 0;  // wheel turn not yet used, in eighths of a degree
};

}  // namespace quarrendel::ui
