// Renders the three window backgrounds with sample objects in every state, and the artwork
// enlarged, to PNG files a person can open: main.png, page.png, dialog.png (each also @2x) and
// artwork.png. Needs no display: run it with QT_QPA_PLATFORM=offscreen (ui/render_skin_samples
// does).
//
// Usage: tovarek-skin-samples OUTDIR
#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <cstdio>

#include "res/artwork.h"
#include "ui/skin/skin_paint.h"
#include "ui/skin/skin_ui.h"

using namespace tovarek;

namespace {

struct Art {
    int tab, button, check, minimise, close;
};

Art LoadArt() {
    Art art{};
    auto load = [](int id) {
        UiImage* image = GetSkinUi()->CreateImage();
        if (!image->LoadFromResource(id, 0, "PNG"))
            std::fprintf(stderr, "tovarek-skin-samples: image %d is missing\n", id);
        return image->GetId();
    };
    art.minimise = load(133);
    art.close = load(132);
    art.check = load(131);
    art.tab = load(134);
    art.button = load(134);
    return art;
}

UiRichText* Text(const QString& markup) {
    UiRichText* t = GetSkinUi()->CreateRichText();
    t->SetMarkup(markup);
    return t;
}

template <typename... Args>
UiRichText* Make(QStringView format, const Args&... args) {
    UiRichText* t = GetSkinUi()->CreateRichText();
    t->SetText(format, args...);
    return t;
}

QImage NewCanvas(int w, int h, qreal ratio) {
    QImage image(qRound(w * ratio), qRound(h * ratio), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::black);
    return image;
}

void PaintBackground(QPainter& p, int w, int h, SkinStyle style, qreal ratio, QPoint at = {}) {
    BackBuffer buffer;
    BuildBackBuffer(buffer, w, h, style, ratio);
    p.save();
    p.translate(at);
    CopyBackBuffer(buffer, p, QRect(0, 0, w, h));
    p.restore();
}

QImage RenderMain(const Art& art, qreal ratio) {
    QImage image = NewCanvas(600, 400, ratio);
    QPainter p(&image);
    PaintBackground(p, 600, 400, kSkinMain, ratio);
    const int w = 600, h = 400;
    Make(u"/a,p5=%d/", art.minimise)->Draw(p, w - 75, 0, nullptr, 0);
    Make(u"/a,p5=%d/", art.close)->Draw(p, w - 43, 0, nullptr, 0);
    Make(u"/a,p5=%d,btn_width=80,btn_text='扫描'/", art.tab)->Draw(p, 10, 35, nullptr, 0);
    Make(u"/a,p5=%d,btn_width=80,btn_text='保护'/", art.tab)->Draw(p, 10, 75, nullptr, 0);
    Make(u"/a,p5=%d,btn_width=80,btn_text='设置'/", art.tab)->Draw(p, 10, 115, nullptr, 0);
    Make(u"当前版本：%s", u"1.0.0.1 ")->Draw(p, 10, h - 15, nullptr, 0);
    Make(u"列表更新日期：%s", u"2024-05-01 10:00:00")->Draw(p, w - 210, h - 15, nullptr, 0);

    // The scan page as it sits inside the main window.
    const QPoint page(100, 25);
    const int pw = w - 105, ph = h - 50;
    PaintBackground(p, pw, ph, kSkinPage, ratio, page);
    p.translate(page);
    Make(u"/a,p5=%d,btn_text='开始快速扫描'/", art.button)->Draw(p, 10, 15, nullptr, 0);
    Make(u"/a,p5=%d,btn_text='开始全盘扫描'/", art.button)->Draw(p, 110, 15, nullptr, 0);
    Make(u"/a,p5=%d,btn_text='扫描指定目录'/", art.button)->Draw(p, 210, 15, nullptr, 0);
    Make(u"/a,p5=%d,btn_type=1/全选//全不选", art.check)->Draw(p, pw - 160, 20, nullptr, 0);
    Make(u"/a,p5=%d,btn_height=20,btn_text='删除所选'/", art.button)
        ->Draw(p, pw - 70, 15, nullptr, 0);
    p.fillRect(QRect(5, 50, pw - 10, ph - 110), Qt::white);
    p.setPen(QColor(0x82, 0x87, 0x90));
    p.drawRect(QRect(5, 50, pw - 11, ph - 111));
    Make(u"扫描%d个文件，危险文件%d个", 12345, 2)->Draw(p, 5, ph - 50, nullptr, 0);
    Make(u"/line_width=%d/%s", pw - 10,
         u"/usr/lib/x86_64-linux-gnu/some/rather/deep/folder/with/a/long/name/libexample.so.1")
        ->Draw(p, 5, ph - 35, nullptr, 0);
    return image;
}

// Objects that show their look in each of the five states, one column per state.
QImage RenderPage(const Art& art, qreal ratio) {
    const int w = 495, h = 350;
    QImage image = NewCanvas(w, h, ratio);
    QPainter p(&image);
    PaintBackground(p, w, h, kSkinPage, ratio);

    const int x0 = 80, dx = 82;
    const char16_t* states[] = {u"0 常规", u"1 悬停", u"2 按下", u"3 选中", u"4 不可用"};
    for (int s = 0; s < 5; ++s) Make(u"%s", states[s])->Draw(p, x0 + s * dx, 12, nullptr, 0);

    struct Row {
        const char16_t* name;
        QString markup;
    };
    const Row rows[] = {
        {u"按钮", FormatText(u"/a,p5=%d,btn_width=76,btn_text='开始扫描'/", art.button)},
        {u"矮按钮", FormatText(u"/a,p5=%d,btn_height=20,btn_text='删除所选'/", art.button)},
        {u"复选项", FormatText(u"/a,p5=%d/自动扫描", art.check)},
        {u"两态", FormatText(u"/a,p5=%d,btn_type=1/全选//全不选", art.check)},
        {u"两态(按后)", FormatText(u"/a,p5=%d,btn_type=1/全选//全不选", art.check)},
        {u"链接", QStringLiteral(u"/a,linkl=1/查看")},
        {u"文字", QStringLiteral(u"拦截历史")},
    };
    // The toggles' second caption is reached the way a user reaches it: a click on a window.
    QWidget clickTarget;
    clickTarget.resize(w, h);
    int y = 40;
    for (const Row& row : rows) {
        Make(u"%s", row.name)->Draw(p, 8, y + 4, nullptr, 0);
        for (int s = 0; s < 5; ++s) {
            UiRichText* t = Text(row.markup);
            if (QStringView(row.name) == u"两态(按后)") {
                QImage scratch(w, h, QImage::Format_ARGB32_Premultiplied);
                QPainter sp(&scratch);
                t->Draw(sp, 0, 0, &clickTarget, 0);
                const QPointF at(2, 2);
                QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton,
                                  Qt::NoModifier);
                QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton,
                                    Qt::NoButton, Qt::NoModifier);
                QCoreApplication::sendEvent(&clickTarget, &press);
                QCoreApplication::sendEvent(&clickTarget, &release);
            }
            t->SetState(s);
            t->Draw(p, x0 + s * dx, y, nullptr, 0);
        }
        y += 36;
    }
    Make(u"禁用：")->Draw(p, 8, y + 4, nullptr, 0);
    int x = x0;
    for (const QString& markup :
         {FormatText(u"/a,p5=%d,btn_width=60,btn_text='开始保护'/", art.button),
          FormatText(u"/a,p5=%d/自动扫描", art.check), QStringLiteral(u"/a,linkl=1/关闭"),
          QStringLiteral(u"等待扫描。。。")}) {
        UiRichText* t = Text(markup);
        t->SetEnabled(0, 0);
        t->Draw(p, x, y, nullptr, 0);
        x += t->GetSize().width() + 16;
    }
    return image;
}

QImage RenderDialog(const Art& art, qreal ratio) {
    const int w = 380, h = 200;
    QImage image = NewCanvas(w, h, ratio);
    QPainter p(&image);
    PaintBackground(p, w, h, kSkinDialog, ratio);
    p.fillRect(QRect(5, 25, w - 10, h - 50), Qt::white);
    p.setPen(QColor(0x82, 0x87, 0x90));
    p.drawRect(QRect(5, 25, w - 11, h - 51));
    Make(u"/a,p5=%d/", art.close)->Draw(p, w - 43, 0, nullptr, 0);
    Make(u"/a,p5=%d,btn_height=20,btn_text='添加目录'/", art.tab)->Draw(p, 10, h - 25, nullptr, 0);
    Make(u"/a,p5=%d,btn_height=20,btn_text='删除目录'/", art.tab)->Draw(p, 80, h - 25, nullptr, 0);
    Make(u"/a,p5=%d,btn_height=20,btn_text='开始扫描'/", art.tab)
        ->Draw(p, w - 140, h - 25, nullptr, 0);
    Make(u"/a,p5=%d,btn_height=20,btn_text='取消'/", art.tab)->Draw(p, w - 70, h - 25, nullptr, 0);
    Make(u"/a,p5=%d/%s", art.check, u"/opt/")->Draw(p, 10, 32, nullptr, 0);
    Make(u"/a,p5=%d/%s", art.check, u"/home/user/Downloads/")->Draw(p, 10, 52, nullptr, 0);
    return image;
}

// Every strip and icon at 1x and 2x, enlarged four times without smoothing, on a checkerboard
// so transparency shows.
QImage RenderArtwork() {
    const int zoom = 4;
    QImage sheet(1400, 1260, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&sheet);
    for (int y = 0; y < sheet.height(); y += 8)
        for (int x = 0; x < sheet.width(); x += 8)
            p.fillRect(x, y, 8, 8, ((x + y) / 8) % 2 ? QColor(0xE8, 0xE8, 0xE8) : Qt::white);
    int x = 10;
    for (int id : {131, 132, 133, 134}) {
        for (const char* suffix : {"", "@2x"}) {
            QImage strip(QString(":/PNG/%1%2").arg(id).arg(suffix), "PNG");
            const int z = suffix[0] ? zoom / 2 : zoom;
            p.drawImage(QRect(x, 10, strip.width() * z, strip.height() * z), strip);
            x += strip.width() * z + 20;
        }
    }
    int y = 500;
    for (int id : {128, 129, 130}) {
        int ix = 10;
        for (int size : {16, 24, 32, 48, 64, 128, 256}) {
            QImage icon(QString(":/ICON/%1/%2").arg(id).arg(size), "PNG");
            const int z = size <= 32 ? 2 : 1;
            p.drawImage(QRect(ix, y, size * z, size * z), icon);
            ix += size * z + 16;
        }
        y += 260;
    }
    return sheet;
}

bool Save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG")) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "tovarek-skin-samples: cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    InitArtworkResources();
    if (argc != 2) {
        std::fprintf(stderr, "usage: tovarek-skin-samples OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "tovarek-skin-samples: cannot create %s\n", argv[1]);
        return 1;
    }
    const Art art = LoadArt();
    bool ok = true;
    for (qreal ratio : {1.0, 2.0}) {
        const QString suffix = ratio > 1 ? "@2x" : "";
        ok &= Save(RenderMain(art, ratio), out + "/main" + suffix + ".png");
        ok &= Save(RenderPage(art, ratio), out + "/page" + suffix + ".png");
        ok &= Save(RenderDialog(art, ratio), out + "/dialog" + suffix + ".png");
    }
    ok &= Save(RenderArtwork(), out + "/artwork.png");
    return ok ? 0 : 1;
}
