#include "shell/controls.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QStyleOptionSlider>
#include <QStylePainter>
#include <algorithm>

#include "core/loop_position.h"

namespace zb {

Selector::Selector(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    // Typed text never becomes an item; the logic only understands the fixed lists.
    setInsertPolicy(QComboBox::NoInsert);
    // What the user types stays as typed: no inline completion to an item.
    setCompleter(nullptr);
    // Connected before anyone else can be, so a handler of these signals already reads the
    // new selection.
    connect(this, &QComboBox::currentIndexChanged, this, &Selector::updateSelection);
    connect(this, &QComboBox::editTextChanged, this, &Selector::updateSelection);
    QAbstractItemModel* items = model();
    connect(items, &QAbstractItemModel::dataChanged, this, &Selector::updateSelection);
    connect(items, &QAbstractItemModel::rowsInserted, this, &Selector::updateSelection);
    connect(items, &QAbstractItemModel::rowsRemoved, this, &Selector::updateSelection);
    connect(items, &QAbstractItemModel::modelReset, this, &Selector::updateSelection);
    setCurrentIndex(-1);
    clearEditText();
}

void Selector::updateSelection() {
    const int index = currentIndex();
    // Text typed over a selection means there is no selection any more.
    selected_ = index >= 0 && currentText() == itemText(index) ? index : -1;
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

int readableTickInterval(int interval, int range, int lengthPx, int minGapPx) {
    if (interval <= 0 || range <= 0 || lengthPx <= 0)
        return interval;
    static constexpr int kSteps[] = {1, 2, 5};
    for (int64_t decade = 1; decade <= range; decade *= 10) {
        for (int m : kSteps) {
            const int64_t spacing = int64_t{interval} * m * decade;
            if (spacing * lengthPx >= int64_t{minGapPx} * range)
                return static_cast<int>(std::min<int64_t>(spacing, range));
        }
    }
    return range;
}

Slider::Slider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

void Slider::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    if (tickPosition() != NoTicks) {
        opt.subControls |= QStyle::SC_SliderTickmarks;
        // The handle's travel is what the ticks spread over.
        const int travel = width() - style()->pixelMetric(QStyle::PM_SliderLength, &opt, this);
        opt.tickInterval = readableTickInterval(tickInterval(), maximum() - minimum(), travel);
    }
    painter.drawComplexControl(QStyle::CC_Slider, opt);
}

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
    // The strip fills its own background in the one painter of its paint event: the marker
    // repaints it at every step, and each painter Qt opens around it costs about as much.
    setAttribute(Qt::WA_OpaquePaintEvent);
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

void Waveform::setStepMark(int step, bool sounding, bool progress) {
    if (step == step_ && sounding == sounding_ && progress == progress_)
        return;
    const bool beatsChange = (step == 0) != (step_ == 0) || progress != progress_;
    const int oldStep = step_;
    step_ = step;
    sounding_ = sounding;
    progress_ = progress;
    if (beatsChange) {
        update();
        return;
    }
    // Only the old and the new step's spans differ (the progress shading grows by one span).
    for (int s : {oldStep, step}) {
        const pos::Span span = pos::stepSpan(s, width());
        update(span.left - 1, 0, span.right - span.left + 2, height());
    }
}

void Waveform::paintEvent(QPaintEvent*) {
    if (!points_.isEmpty() && (cache_.isNull() || cache_.size() != size() * devicePixelRatioF())) {
        // A long sample's trace has millions of points: draw them once into a picture and
        // repaint from it, so uncovering the window stays cheap.
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
    // Qt clips the painter to the region being repainted.
    QPainter painter(this);
    painter.fillRect(rect(), palette().brush(backgroundRole()));
    if (!points_.isEmpty())
        painter.drawPixmap(0, 0, cache_);
    if (step_ != 0)
        paintStepMark(painter);
}

void Waveform::paintStepMark(QPainter& painter) {
    const int w = width(), h = height();
    const pos::Span span = pos::stepSpan(step_, w);
    QColor light(color_);
    if (progress_) {
        // The take so far: every step up to the one heard.
        light.setAlpha(60);
        painter.fillRect(0, 0, span.right, h, light);
    }
    if (sounding_) {
        light.setAlpha(150);
        painter.fillRect(span.left, 0, span.right - span.left, h, light);
    }
    painter.setPen(QPen(color_, 0));
    for (int beat = 0; beat < pos::kSteps / pos::kStepsPerBeat; ++beat) {
        const int x = pos::stepSpan(beat * pos::kStepsPerBeat + 1, w).left;
        painter.drawLine(x, 0, x, 2);
        painter.drawLine(x, h - 3, x, h - 1);
    }
    painter.drawLine(span.left, 0, span.left, h - 1);
}

}  // namespace zb
