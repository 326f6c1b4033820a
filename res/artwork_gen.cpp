// Draws the program's artwork: the four button strips (131-134) at 1x and 2x, and the icons
// 128-130 at the usual icon sizes, plus the resource list that embeds them. Everything is drawn
// here with QPainter from plain shapes, so the build needs no image files and no fonts.
//
// Usage: tovarek-artwork-gen OUTDIR
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>
#include <cstdio>

namespace {

constexpr int kFrames = 5;  // normal, hover, pressed, selected (ticked), disabled

struct StripLook {
    int id;
    int frameWidth;
    int frameHeight;
    void (*draw)(QPainter&, int state, QSizeF size);
};

struct ButtonLook {
    QColor top, bottom, border, highlight;
};

// Push and page buttons (134). The library stretches the middle of a frame and keeps 4-pixel
// caps, so corners are drawn within 4 pixels of the edges.
void DrawButton(QPainter& p, int state, QSizeF size) {
    static const ButtonLook looks[kFrames] = {
        {QColor(0xFF, 0xFF, 0xFF), QColor(0xD9, 0xE6, 0xF5), QColor(0x7A, 0x98, 0xC0),
         QColor(255, 255, 255, 200)},
        {QColor(0xFF, 0xFF, 0xFF), QColor(0xE6, 0xF1, 0xFF), QColor(0x3C, 0x78, 0xC8),
         QColor(255, 255, 255, 255)},
        {QColor(0xBC, 0xD0, 0xEC), QColor(0xE2, 0xEC, 0xF8), QColor(0x2E, 0x5E, 0x9E),
         QColor(255, 255, 255, 0)},
        {QColor(0xDD, 0xEB, 0xFF), QColor(0xA9, 0xC8, 0xF0), QColor(0x2E, 0x5E, 0x9E),
         QColor(255, 255, 255, 160)},
        {QColor(0xF3, 0xF3, 0xF3), QColor(0xE0, 0xE0, 0xE0), QColor(0xB4, 0xB4, 0xB4),
         QColor(255, 255, 255, 120)},
    };
    const ButtonLook& look = looks[state];
    QRectF outer(0.5, 0.5, size.width() - 1, size.height() - 1);
    QLinearGradient fill(0, 0, 0, size.height());
    fill.setColorAt(0.0, look.top);
    fill.setColorAt(1.0, look.bottom);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(outer, 3, 3);
    if (look.highlight.alpha() > 0) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(look.highlight, 1));
        p.drawRoundedRect(outer.adjusted(1, 1, -1, -1), 2, 2);
    }
    if (state == 2) {
        // A pressed button reads as sunk: a soft shadow along the top inner edge.
        p.setPen(QPen(QColor(0x2E, 0x5E, 0x9E, 70), 1));
        p.drawLine(QPointF(3, 1.5), QPointF(size.width() - 3, 1.5));
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(look.border, 1));
    p.drawRoundedRect(outer, 3, 3);
}

// Check options (131): frames 2 and 3 are both ticked, 2 with the pressed look.
void DrawCheckBox(QPainter& p, int state, QSizeF size) {
    QRectF box(0.5, 0.5, size.width() - 1, size.height() - 1);
    QColor border = QColor(0x5A, 0x7D, 0xA8), top = Qt::white, bottom = QColor(0xE4, 0xEC, 0xF6);
    switch (state) {
        case 1:
            border = QColor(0x2F, 0x6F, 0xD0);
            bottom = QColor(0xD6, 0xE7, 0xFF);
            break;
        case 2:
            border = QColor(0x2E, 0x5E, 0x9E);
            top = QColor(0xC9, 0xDB, 0xF2);
            bottom = QColor(0xE8, 0xF0, 0xFA);
            break;
        case 4:
            border = QColor(0xB0, 0xB0, 0xB0);
            top = QColor(0xF4, 0xF4, 0xF4);
            bottom = QColor(0xE6, 0xE6, 0xE6);
            break;
        default:
            break;
    }
    QLinearGradient fill(0, 0, 0, size.height());
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.setPen(QPen(border, 1));
    p.setBrush(fill);
    p.drawRoundedRect(box, 2, 2);
    if (state == 2 || state == 3) {
        QPainterPath tick;
        tick.moveTo(3.2, 7.2);
        tick.lineTo(5.9, 9.9);
        tick.lineTo(10.8, 4.0);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0x1F, 0x5F, 0xAF), 1.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(tick);
    }
}

// Title-bar buttons sit on the grey band of the title bar, so their glyphs are white with a
// faint shadow, and only hover and press get a face.
void DrawTitleFace(QPainter& p, int state, QSizeF size, const QColor& hover, const QColor& pressed,
                   const QColor& selected) {
    QColor face;
    if (state == 1) face = hover;
    if (state == 2) face = pressed;
    if (state == 3) face = selected;
    if (!face.isValid()) return;
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawRoundedRect(QRectF(1, 1, size.width() - 2, size.height() - 2), 2, 2);
}

QColor GlyphColour(int state) {
    return state == 4 ? QColor(0xD8, 0xD8, 0xD8) : QColor(Qt::white);
}

void DrawMinButton(QPainter& p, int state, QSizeF size) {
    DrawTitleFace(p, state, size, QColor(255, 255, 255, 70), QColor(0, 0, 0, 60),
                  QColor(255, 255, 255, 120));
    const QRectF bar(9, 12, 9, 2);
    if (state != 4) p.fillRect(bar.translated(0, 1), QColor(0, 0, 0, 70));
    p.fillRect(bar, GlyphColour(state));
}

void DrawCloseButton(QPainter& p, int state, QSizeF size) {
    DrawTitleFace(p, state, size, QColor(0xE0, 0x43, 0x43), QColor(0xB0, 0x28, 0x28),
                  QColor(0xF0, 0x60, 0x60));
    auto cross = [&](QPointF offset, const QColor& c) {
        p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(14.5, 5.5) + offset, QPointF(23.5, 14.5) + offset);
        p.drawLine(QPointF(23.5, 5.5) + offset, QPointF(14.5, 14.5) + offset);
    };
    if (state == 0) cross(QPointF(0, 1), QColor(0, 0, 0, 70));
    cross(QPointF(0, 0), GlyphColour(state));
}

const StripLook kStrips[] = {
    {131, 14, 14, DrawCheckBox},
    {132, 38, 20, DrawCloseButton},
    {133, 27, 20, DrawMinButton},
    {134, 61, 24, DrawButton},
};

QImage RenderStrip(const StripLook& strip, int scale) {
    QImage image(strip.frameWidth * scale, strip.frameHeight * kFrames * scale,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (int state = 0; state < kFrames; ++state) {
        p.save();
        p.scale(scale, scale);
        p.translate(0, state * strip.frameHeight);
        p.setClipRect(QRectF(0, 0, strip.frameWidth, strip.frameHeight));
        strip.draw(p, state, QSizeF(strip.frameWidth, strip.frameHeight));
        p.restore();
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// Icons are drawn on a 256-unit square: a shield with a mark.
QPainterPath ShieldPath() {
    QPainterPath path;
    path.moveTo(128, 14);
    path.cubicTo(166, 38, 202, 46, 232, 46);
    path.lineTo(232, 118);
    path.cubicTo(232, 184, 190, 224, 128, 246);
    path.cubicTo(66, 224, 24, 184, 24, 118);
    path.lineTo(24, 46);
    path.cubicTo(54, 46, 90, 38, 128, 14);
    path.closeSubpath();
    return path;
}

enum class Mark { AppT, Check, Cross };

QImage RenderIcon(QColor light, QColor dark, Mark mark, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    const QPainterPath shield = ShieldPath();
    QLinearGradient fill(0, 14, 0, 246);
    fill.setColorAt(0, light);
    fill.setColorAt(1, dark);
    // Small sizes get a relatively thicker outline so the edge survives down-sampling.
    const qreal outline = size <= 24 ? 16 : (size <= 48 ? 10 : 6);
    p.setPen(QPen(dark.darker(140), outline, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(shield);
    if (size >= 32) {
        // A gloss on the upper left half; lost in the noise at the smallest sizes.
        QPainterPath gloss;
        gloss.moveTo(128, 30);
        gloss.cubicTo(92, 52, 62, 60, 40, 60);
        gloss.lineTo(40, 118);
        gloss.cubicTo(40, 130, 41, 140, 43, 150);
        gloss.cubicTo(80, 120, 110, 100, 128, 96);
        gloss.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 45));
        p.drawPath(gloss);
    }
    const qreal stroke = size <= 24 ? 34 : 28;
    QPen markPen(Qt::white, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(markPen);
    p.setBrush(Qt::NoBrush);
    switch (mark) {
        case Mark::AppT:
            p.drawLine(QPointF(82, 82), QPointF(174, 82));
            p.drawLine(QPointF(128, 82), QPointF(128, 186));
            break;
        case Mark::Check: {
            QPainterPath tick;
            tick.moveTo(78, 128);
            tick.lineTo(114, 164);
            tick.lineTo(180, 94);
            p.drawPath(tick);
            break;
        }
        case Mark::Cross:
            p.drawLine(QPointF(90, 86), QPointF(166, 162));
            p.drawLine(QPointF(166, 86), QPointF(90, 162));
            break;
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

struct IconLook {
    int id;
    QColor light, dark;
    Mark mark;
};

const IconLook kIcons[] = {
    {128, QColor(0x5A, 0x9C, 0xEA), QColor(0x1C, 0x4F, 0x9C), Mark::AppT},
    {129, QColor(0x5C, 0xC4, 0x6A), QColor(0x1E, 0x7A, 0x2E), Mark::Check},
    {130, QColor(0xB4, 0xB8, 0xBC), QColor(0x6A, 0x6E, 0x73), Mark::Cross},
};

const int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

bool Save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG")) return true;
    std::fprintf(stderr, "tovarek-artwork-gen: cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tovarek-artwork-gen OUTDIR\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "tovarek-artwork-gen: cannot create %s\n", argv[1]);
        return 1;
    }
    QString qrc;
    QTextStream qrcOut(&qrc);
    qrcOut << "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/PNG\">\n";
    for (const StripLook& strip : kStrips) {
        for (int scale : {1, 2}) {
            const QString alias = QString::number(strip.id) + (scale == 2 ? "@2x" : "");
            const QString file = alias + ".png";
            if (!Save(RenderStrip(strip, scale), outDir + "/" + file)) return 1;
            qrcOut << "  <file alias=\"" << alias << "\">" << file << "</file>\n";
        }
    }
    qrcOut << "</qresource>\n<qresource prefix=\"/ICON\">\n";
    for (const IconLook& icon : kIcons) {
        for (int size : kIconSizes) {
            const QString file = QString("%1-%2.png").arg(icon.id).arg(size);
            if (!Save(RenderIcon(icon.light, icon.dark, icon.mark, size), outDir + "/" + file))
                return 1;
            qrcOut << "  <file alias=\"" << icon.id << "/" << size << "\">" << file << "</file>\n";
        }
    }
    qrcOut << "</qresource>\n</RCC>\n";
    qrcOut.flush();
    QFile qrcFile(outDir + "/artwork.qrc");
    if (!qrcFile.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        qrcFile.write(qrc.toUtf8()) < 0) {
        std::fprintf(stderr, "tovarek-artwork-gen: cannot write artwork.qrc\n");
        return 1;
    }
    return 0;
}
