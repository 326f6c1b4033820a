// Saves the whole X screen (windows, panels and tray alike) as a PNG, for people to look at the
// real program under Xvfb.
//
// Usage: tovarek-screen-grab OUT.png
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tovarek-screen-grab OUT.png\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "tovarek-screen-grab: could not grab or save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
