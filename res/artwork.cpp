#include "res/artwork.h"

#include <QFile>

// Q_INIT_RESOURCE must be used outside any namespace; calling it also keeps the linker from
// dropping the embedded data out of this static library.
static void InitTovarekArtwork() {
    Q_INIT_RESOURCE(tovarek_artwork);
}

namespace tovarek {

void InitArtworkResources() {
    static const bool done = (InitTovarekArtwork(), true);
    (void)done;
}

QIcon LoadResourceIcon(int id) {
    InitArtworkResources();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString path = QString(":/ICON/%1/%2").arg(id).arg(size);
        if (QFile::exists(path)) icon.addFile(path, QSize(size, size));
    }
    return icon;
}

}  // namespace tovarek
