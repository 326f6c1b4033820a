#include "ui/skin/skin_paint.h"

#include <QLinearGradient>
#include <QPainter>

namespace tovarek {

namespace {

const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kLightBlue(0xBF, 0xD2, 0xEA);
const QColor kGrey(0x64, 0x64, 0x64);

// Sizes above this are refused rather than attempted (a bogus size must not take gigabytes).
constexpr int kMaxSide = 16384;

// Gradients and lines are placed on pixel centres: coordinate (x, y) names pixel (x, y), so the
// blend value at a pixel is the one at its own coordinate and a line at x 95 covers column 95.
constexpr qreal kCentre = 0.5;

// A three-colour preset blend: first colour at 0, second at `mid`, third at 1.
void SetBlend(QGradient& g, const QColor& a, qreal mid, const QColor& b, const QColor& c) {
    g.setSpread(QGradient::RepeatSpread);  // "tile": never reached inside the filled rectangle
    g.setColorAt(0.0, a);
    g.setColorAt(mid, b);
    g.setColorAt(1.0, c);
}

// Horizontal white -> light blue over the first tenth of the width.
QLinearGradient HorizontalFill(int w) {
    QLinearGradient g(kCentre, 0, w + kCentre, 0);
    SetBlend(g, kWhite, 0.1, kLightBlue, kLightBlue);
    return g;
}

// Forward diagonal over w x h, scaled to the rectangle: the top left corner is the start, the
// bottom right the end, and the other two corners lie half way, as with a 45-degree gradient
// stretched to a non-square rectangle.
QLinearGradient DiagonalFill(int w, int h) {
    // t(x, y) = x / 2w + y / 2h; a linear gradient from p0 to p1 gives t = (p - p0).d / |d|^2,
    // so d = g / |g|^2 with g = (1 / 2w, 1 / 2h).
    const qreal gx = 1.0 / (2.0 * w), gy = 1.0 / (2.0 * h);
    const qreal n = gx * gx + gy * gy;
    QLinearGradient g(kCentre, kCentre, kCentre + gx / n, kCentre + gy / n);
    SetBlend(g, kWhite, 0.1, kLightBlue, kLightBlue);
    return g;
}

// The title bar, 20 pixels high: light blue at its top edge, grey at y 10, light blue at y 20.
QLinearGradient TitleFill() {
    QLinearGradient g(0, kCentre, 0, 20 + kCentre);
    SetBlend(g, kLightBlue, 0.5, kGrey, kLightBlue);
    return g;
}

void DrawFrame(QPainter& p, int w, int h) {
    // A 2-pixel pen centred on the window's edge: the inner half shows as a 1-pixel frame.
    p.setPen(QPen(kGrey, 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0, 0, w, h));
}

void DrawTitle(QPainter& p, const QString& title) {
    QFont font;
    // The Windows faces first, then the metric-compatible Liberation face and CJK faces for
    // titles with Chinese text.
    font.setFamilies({"Times New Roman", "Liberation Serif", "SimSun", "WenQuanYi Micro Hei",
                      "Noto Serif CJK SC", "Noto Sans CJK SC"});
    font.setPixelSize(12);
    font.setBold(true);
    p.setFont(font);
    p.setPen(kWhite);
    // At (5, 5) with no layout box: the text's line box starts there and is never wrapped.
    p.drawText(QRectF(5, 5, 100000, 100000), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
               title);
}

void PaintMain(QPainter& p, int w, int h) {
    p.fillRect(QRect(0, 0, w, h), HorizontalFill(w));
    p.fillRect(QRect(0, 0, w, 20), TitleFill());
    DrawFrame(p, w, h);
    QPen line(kGrey, 1.5);
    line.setCapStyle(Qt::FlatCap);
    p.setPen(line);
    p.drawLine(QPointF(95 + kCentre, 25 + kCentre), QPointF(95 + kCentre, h - 25 + kCentre));
    p.drawLine(QPointF(0 + kCentre, h - 20 + kCentre), QPointF(w + kCentre, h - 20 + kCentre));
    DrawTitle(p, QStringLiteral("Tovarek"));
}

void PaintPage(QPainter& p, int w, int h) {
    p.fillRect(QRect(0, 0, w, h), DiagonalFill(w, h));
    DrawFrame(p, w, h);
}

void PaintDialog(QPainter& p, int w, int h) {
    p.fillRect(QRect(0, 0, w, h), DiagonalFill(w, h));
    p.fillRect(QRect(0, 0, w, 20), TitleFill());
    DrawFrame(p, w, h);
    DrawTitle(p, QString::fromUtf8("设置扫描目录"));
}

}  // namespace

void BuildBackBuffer(BackBuffer& slot, int w, int h, SkinStyle style, qreal devicePixelRatio) {
    slot.m_bitmap = QImage();
    slot.m_screen = QImage();
    if (devicePixelRatio < 1.0 || devicePixelRatio > 8.0) devicePixelRatio = 1.0;
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) return;
    QImage bitmap(qRound(w * devicePixelRatio), qRound(h * devicePixelRatio),
                  QImage::Format_ARGB32);
    if (bitmap.isNull()) return;  // out of memory: behave as before the first size
    bitmap.setDevicePixelRatio(devicePixelRatio);
    bitmap.fill(Qt::transparent);
    {
        QPainter p(&bitmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        switch (style) {
            case kSkinMain:
                PaintMain(p, w, h);
                break;
            case kSkinDialog:
                PaintDialog(p, w, h);
                break;
            case kSkinPage:
            default:
                PaintPage(p, w, h);
                break;
        }
    }
    // Transparent pixels show opaque black on screen; doing it here keeps each paint a copy.
    QImage screen(bitmap.size(), QImage::Format_RGB32);
    screen.setDevicePixelRatio(devicePixelRatio);
    screen.fill(Qt::black);
    {
        QPainter p(&screen);
        p.drawImage(0, 0, bitmap);
    }
    slot.m_bitmap = std::move(bitmap);
    slot.m_screen = std::move(screen);
}

int CopyBackBuffer(const BackBuffer& buffer, QPainter& dc, const QRect& rect) {
    if (buffer.m_screen.isNull()) return 0;
    const qreal ratio = buffer.m_screen.devicePixelRatio();
    // A paint area beyond the bitmap (the window grew and no size change came yet) copies what
    // there is.
    const QRect logical(0, 0, qRound(buffer.m_screen.width() / ratio),
                        qRound(buffer.m_screen.height() / ratio));
    const QRect area = rect.intersected(logical);
    if (area.isEmpty()) return 1;
    const QRectF source(area.x() * ratio, area.y() * ratio, area.width() * ratio,
                        area.height() * ratio);
    dc.save();
    dc.setCompositionMode(QPainter::CompositionMode_Source);
    dc.drawImage(QRectF(area), buffer.m_screen, source);
    dc.restore();
    return 1;
}

}  // namespace tovarek
