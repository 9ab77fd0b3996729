// Redraws the window's bitmaps into a folder: generate-assets layout/assets
#include "layout/asset_drawing.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>

#include <cstdio>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv); // image plugins need it
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const std::pair<const char*, QByteArray> files[] = {
        {"disconnected.bmp", layout::drawStatusBitmap(layout::StatusLook::Disconnected)},
        {"connected.bmp", layout::drawStatusBitmap(layout::StatusLook::Connected)},
        {"device_info.ico", layout::drawWindowIcon()},
    };
    for (const auto& [name, bytes] : files) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    // The desktop's icon themes take PNG: one per size held in the .ico.
    QBuffer ico;
    ico.setData(layout::drawWindowIcon());
    QImageReader reader(&ico, "ico");
    for (int i = 0; i < reader.imageCount(); ++i) {
        reader.jumpToImage(i);
        const QImage image = reader.read();
        const QString name = QStringLiteral("device-info-%1.png").arg(image.width());
        if (!image.save(dir.filePath(name))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
            return 1;
        }
    }
    return 0;
}
