// Redraws the window's bitmaps into a folder: generate-assets layout/assets
#include "layout/asset_drawing.h"

#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char* argv[]) {
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
    return 0;
}
