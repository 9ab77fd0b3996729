#include "layout/asset_drawing.h"
#include "qt_printers.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint32 le32(const QByteArray& b, int at) {
    return qFromLittleEndian<quint32>(b.constData() + at);
}
quint16 le16(const QByteArray& b, int at) {
    return qFromLittleEndian<quint16>(b.constData() + at);
}

const QString kSource = QStringLiteral(DEVICE_INFO_SOURCE_DIR "/layout/assets/");

TEST(Assets, CommittedFilesAreTheGeneratorsOutput) {
    EXPECT_EQ(readFile(kSource + "disconnected.bmp"),
              layout::drawStatusBitmap(layout::StatusLook::Disconnected));
    EXPECT_EQ(readFile(kSource + "connected.bmp"),
              layout::drawStatusBitmap(layout::StatusLook::Connected));
    EXPECT_EQ(readFile(kSource + "device_info.ico"), layout::drawWindowIcon());
}

TEST(Assets, StatusBitmapHeaders) {
    const QByteArray bmp = readFile(":/layout/disconnected.bmp");
    ASSERT_EQ(bmp.size(), 9258);
    EXPECT_EQ(bmp.left(2), "BM");
    EXPECT_EQ(le32(bmp, 2), 9258u);
    EXPECT_EQ(le32(bmp, 18), 78u);
    EXPECT_EQ(le32(bmp, 22), 39u);
    EXPECT_EQ(le16(bmp, 28), 24u);
    EXPECT_EQ(le32(bmp, 30), 0u); // uncompressed
}

struct Sample {
    int x, y;
    QColor disconnected, connected;
};

TEST(Assets, StatusBitmapPixels) {
    const QImage off(":/layout/disconnected.bmp");
    const QImage on(":/layout/connected.bmp");
    ASSERT_EQ(off.size(), QSize(78, 39));
    const QColor bg(236, 233, 216), black(0, 0, 0), red(255, 0, 0), grey(128, 128, 128),
        green(0, 255, 0);
    const Sample samples[] = {
        {0, 0, bg, bg},         {77, 38, bg, bg},    {6, 19, bg, bg},       {7, 19, black, black},
        {32, 19, black, black}, {33, 19, bg, bg},    {19, 7, black, black}, {19, 31, black, black},
        {19, 32, bg, bg},       {19, 19, red, grey}, {56, 19, grey, green}, {44, 19, black, black},
        {69, 19, black, black}, {7, 7, bg, bg},      {38, 19, bg, bg}};
    for (const Sample& s : samples) {
        EXPECT_EQ(QColor(off.pixel(s.x, s.y)), s.disconnected) << s.x << "," << s.y;
        EXPECT_EQ(QColor(on.pixel(s.x, s.y)), s.connected) << s.x << "," << s.y;
    }
}

TEST(Assets, IconHoldsTwoOpaqueSixteenColourImages) {
    const QByteArray ico = readFile(":/layout/device_info.ico");
    ASSERT_GE(ico.size(), 6 + 32);
    EXPECT_EQ(le16(ico, 2), 1u);
    ASSERT_EQ(le16(ico, 4), 2u);
    EXPECT_EQ(quint8(ico[6]), 32);
    EXPECT_EQ(quint8(ico[6 + 16]), 16);
    for (int entry : {6, 22}) {
        EXPECT_EQ(quint8(ico[entry + 2]), 16) << "colours";
        EXPECT_EQ(le16(ico, entry + 6), 4u) << "bits per pixel";
    }

    QImageReader reader(":/layout/device_info.ico");
    ASSERT_EQ(reader.imageCount(), 2);
    const QImage large = reader.read();
    ASSERT_EQ(large.size(), QSize(32, 32));
    ASSERT_TRUE(reader.jumpToNextImage());
    const QImage small = reader.read();
    ASSERT_EQ(small.size(), QSize(16, 16));

    const QColor white(255, 255, 255), navy(0, 0, 128), black(0, 0, 0);
    EXPECT_EQ(QColor(large.pixel(0, 0)), white);
    EXPECT_EQ(QColor(large.pixel(15, 3)), navy);   // top block
    EXPECT_EQ(QColor(large.pixel(15, 28)), black); // bottom block
    EXPECT_EQ(QColor(large.pixel(15, 15)), black); // middle square
    EXPECT_EQ(QColor(large.pixel(3, 10)), navy);   // left L at the top
    EXPECT_EQ(QColor(large.pixel(28, 10)), black); // right L at the top
    EXPECT_EQ(QColor(large.pixel(9, 13)), navy);
    EXPECT_EQ(QColor(large.pixel(9, 18)), black);
    EXPECT_EQ(QColor(large.pixel(22, 13)), black);
    EXPECT_EQ(QColor(large.pixel(22, 18)), navy);
    for (const QImage* image : {&large, &small}) {
        for (int y = 0; y < image->height(); ++y)
            for (int x = 0; x < image->width(); ++x)
                ASSERT_EQ(qAlpha(image->pixel(x, y)), 255) << x << "," << y;
    }
    // The desktop's PNG renditions hold the same pixels.
    for (const QImage* image : {&large, &small}) {
        const QImage png(kSource + QStringLiteral("device-info-%1.png").arg(image->width()));
        ASSERT_EQ(png.size(), image->size());
        EXPECT_EQ(png.convertToFormat(QImage::Format_ARGB32),
                  image->convertToFormat(QImage::Format_ARGB32));
    }
    // Turned half a circle the design keeps its shapes.
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(large.pixel(x, y) == white.rgb(), large.pixel(31 - x, 31 - y) == white.rgb());
}

} // namespace
