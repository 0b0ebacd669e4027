#include "shell/controls.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>

namespace zb {

Selector::Selector(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    // Typed text never becomes an item; the logic only understands the fixed lists.
    setInsertPolicy(QComboBox::NoInsert);
    // What the user types stays as typed: no inline completion to an item.
    setCompleter(nullptr);
    setCurrentIndex(-1);
    clearEditText();
}

int Selector::selectedIndex() const {
    const int index = currentIndex();
    if (index < 0)
        return -1;
    // Text typed over a selection means there is no selection any more.
    if (currentText() != itemText(index))
        return -1;
    return index;
}

void Selector::setSelectedIndex(int index) {
    if (index < 0 || index >= count()) {
        setCurrentIndex(-1);
        clearEditText();
        return;
    }
    setCurrentIndex(index);
    // An index that was already current keeps a typed text; put the item's text back.
    if (currentText() != itemText(index))
        setEditText(itemText(index));
}

Slider::Slider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

void Slider::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    QSlider::mousePressEvent(event);
}

void Slider::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    const bool wasPressed = pressed_;
    pressed_ = false;
    if (wasPressed && rect().contains(event->position().toPoint()))
        emit clicked();
}

Waveform::Waveform(QWidget* parent) : QWidget(parent), color_(Qt::black) {
    setAutoFillBackground(true);
}

void Waveform::setTrace(QVector<QPointF> points) {
    points_ = std::move(points);
    cache_ = QPixmap();
    update();
}

void Waveform::clearPicture() {
    points_.clear();
    cache_ = QPixmap();
    update();
}

void Waveform::paintEvent(QPaintEvent*) {
    if (points_.isEmpty())
        return;
    // A long sample's trace has millions of points: draw them once into a picture and
    // repaint from it, so uncovering the window stays cheap.
    if (cache_.isNull() || cache_.size() != size() * devicePixelRatioF()) {
        cache_ = QPixmap(size() * devicePixelRatioF());
        cache_.setDevicePixelRatio(devicePixelRatioF());
        cache_.fill(Qt::transparent);
        QPainter painter(&cache_);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(color_, 0));
        // Points are kept in twips; the painter maps them onto pixels.
        painter.scale(1.0 / kTwipsPerPixel, 1.0 / kTwipsPerPixel);
        if (points_.size() == 1) {
            painter.drawPoint(points_.front());
        } else {
            painter.drawPolyline(QPolygonF(points_));
        }
    }
    QPainter(this).drawPixmap(0, 0, cache_);
}

}  // namespace zb
