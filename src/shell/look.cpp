#include "shell/look.h"

#include <QPainter>
#include <QtGlobal>

namespace zb::look {

int px(int twips) {
    // Rounds halves away from zero, as a positive twips value is never negative here.
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

QRect twipsRect(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

QString panelFontFamily(const QStringList& installedFamilies) {
    for (const QString& family : installedFamilies) {
        if (family.compare(QStringLiteral("Verdana"), Qt::CaseInsensitive) == 0)
            return family;
    }
    return QStringLiteral("DejaVu Sans");
}

QString windowFontFamily(const QStringList& installedFamilies) {
    return panelFontFamily(installedFamilies);
}

double windowFontPoints(const std::function<bool(double points)>& fits) {
    constexpr int kLargestQuarters = 33;  // 8.25 pt
    constexpr int kSmallestQuarters = 24;
    for (int quarters = kLargestQuarters; quarters > kSmallestQuarters; --quarters) {
        if (fits(quarters / 4.0))
            return quarters / 4.0;
    }
    return kSmallestQuarters / 4.0;
}

QImage windowIconImage() {
    // Which of the eight steps each of the four rows lights: a kick on the beats, a
    // back beat, an off-beat and a syncopated low line.
    static constexpr bool kLit[4][8] = {
        {true, false, true, false, true, false, true, false},
        {false, false, true, false, false, false, true, false},
        {false, true, false, true, false, true, false, true},
        {true, false, false, true, false, false, true, false},
    };
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(QColor(kBackground));
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    for (int row = 0; row < 4; ++row) {
        for (int step = 0; step < 8; ++step) {
            const QRect cell(1 + step * 4, 1 + row * 8, 3, 6);
            QColor color(kLit[row][step] ? (row == 0 ? kLabel : kFace) : kField);
            painter.fillRect(cell, color);
        }
    }
    return image;
}

namespace {
constexpr char kNoSharedMemory[] = "QT_XCB_NO_MITSHM";
}

bool SendRepaintsOverSocket() {
    if (qEnvironmentVariableIsSet(kNoSharedMemory))
        return false;
    qputenv(kNoSharedMemory, "1");
    return true;
}

void ForgetRepaintsOverSocket(bool chosenHere) {
    if (chosenHere)
        qunsetenv(kNoSharedMemory);
}

}  // namespace zb::look
