// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the logo (80 x 26, OLVA in red serif capitals on #B4B4B4) and the
// program icon. Run once by hand; the pictures are kept in src/window/:
//   g++ -std=c++20 -fPIC make_images.cpp $(pkg-config --cflags --libs Qt6Gui) -o make_images
//   QT_QPA_PLATFORM=offscreen ./make_images logo.png mv70-control.png
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    QImage img(80, 26, QImage::Format_RGB888);
    img.fill(QColor(0xB4, 0xB4, 0xB4));
    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont f("DejaVu Serif");
    f.setPixelSize(22);
    f.setBold(true);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    p.setFont(f);
    p.setPen(QColor(0xFF, 0, 0));
    p.drawText(QRect(0, 0, 80, 26), Qt::AlignCenter, "OLVA");
    p.end();
    img.save(argv[1]);
    // icon 64x64
    QImage icon(64, 64, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter q(&icon);
    q.setRenderHint(QPainter::Antialiasing);
    q.setBrush(QColor(0xC0, 0xC0, 0xC0));
    q.setPen(QPen(QColor(0x80, 0x80, 0xFF), 3));
    q.drawRoundedRect(QRectF(2, 2, 60, 60), 8, 8);
    q.setPen(Qt::NoPen);
    q.setBrush(QColor(0xB4, 0xB4, 0xB4));
    q.drawRect(8, 10, 48, 18);
    QFont g("DejaVu Serif");
    g.setPixelSize(15);
    g.setBold(true);
    q.setFont(g);
    q.setPen(QColor(0xFF, 0, 0));
    q.drawText(QRect(8, 10, 48, 18), Qt::AlignCenter, "OLVA");
    q.setPen(Qt::black);
    QFont h("DejaVu Sans");
    h.setPixelSize(16);
    h.setBold(true);
    q.setFont(h);
    q.drawText(QRect(2, 32, 60, 26), Qt::AlignCenter, "MV70");
    q.end();
    icon.save(argv[2]);
}
