// Window backgrounds: each window paints its style once per size change into a back buffer and
// copies the needed part on every paint, before drawing its UI objects on top. UI thread only.
#pragma once

#include <QImage>
#include <QRect>

class QPainter;

namespace tovarek {

// main: gradient, title bar with "Tovarek", frame, the page-button separator and the status
// separator; page: diagonal gradient and frame; dialog: the page background with a title bar
// and "设置扫描目录".
enum SkinStyle { kSkinMain = 0, kSkinPage = 1, kSkinDialog = 2 };

// A window's back buffer slot: empty before the first size change.
class BackBuffer {
public:
    bool IsEmpty() const { return m_bitmap.isNull(); }
    // The painted 32-bit ARGB bitmap (device pixels), null when empty.
    const QImage& Bitmap() const { return m_bitmap; }

private:
    friend void BuildBackBuffer(BackBuffer&, int, int, SkinStyle, qreal);
    friend int CopyBackBuffer(const BackBuffer&, QPainter&, const QRect&);
    QImage m_bitmap;  // as painted, ARGB32
    QImage m_screen;  // the same over opaque black, ready for a plain block copy
};

// Replaces the slot's bitmap by a new w x h one painted in `style`; the old one is released
// first. A size with no pixels (a minimised window reports 0 x 0) or one that cannot be
// allocated leaves the slot empty, so paints report 0 until the next real size. With a device
// pixel ratio above 1 the bitmap has that many device pixels per logical pixel.
void BuildBackBuffer(BackBuffer& slot, int w, int h, SkinStyle style, qreal devicePixelRatio = 1.0);

// Copies `rect` (logical client coordinates, as the paint event reports it) of the back buffer
// to the same place of `dc`. Returns 0 and draws nothing when the slot is empty, else 1.
int CopyBackBuffer(const BackBuffer& buffer, QPainter& dc, const QRect& rect);

}  // namespace tovarek
