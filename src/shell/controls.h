// Small widget classes that give Qt controls the behaviour the program's logic relies on:
// a selector whose selected index is -1 whenever its text is not one of its items, a
// slider that reports clicks, and a picture strip that keeps the lines drawn into it.
//
// Threads: UI thread only.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPointF>
#include <QSlider>
#include <QVector>
#include <QWidget>

#include "core/twips.h"

namespace zb {

// Drop-down selector with an editable field. selectedIndex() is -1 when nothing is
// selected, including after the user typed text that is not exactly the current item.
// The step reads every selector at every step, so the index is kept as plain data, worked
// out again whenever the index, the typed text or the items change.
class Selector : public QComboBox {
    Q_OBJECT
public:
    explicit Selector(QWidget* parent = nullptr);
    int selectedIndex() const { return selected_; }
    // -1 clears the selection and the text; selecting an index raises no handled event.
    void setSelectedIndex(int index);

private:
    void updateSelection();

    int selected_ = -1;
};

// The tick spacing to draw for a slider whose ticks are `interval` values apart over `range`
// values on `lengthPx` pixels: the smallest 1, 2 or 5 times a power of ten multiple of
// `interval` whose ticks lie at least `minGapPx` apart, so dense ticks never merge.
int readableTickInterval(int interval, int range, int lengthPx, int minGapPx = 4);

// Horizontal integer slider that also emits clicked() when the pointer is pressed and
// released on it. Its ticks are drawn at a readable spacing (tickInterval() is unchanged).
class Slider : public QSlider {
    Q_OBJECT
public:
    explicit Slider(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool pressed_ = false;
};

// Picture strip that draws in twips (15 to the pixel). It keeps a polyline of segments
// in its own coordinates and repaints them; clearing drops them.
class Waveform : public QWidget {
    Q_OBJECT
public:
    explicit Waveform(QWidget* parent = nullptr);

    // Width and height in drawing units (twips).
    double scaleWidth() const { return width() * double{kTwipsPerPixel}; }
    double scaleHeight() const { return height() * double{kTwipsPerPixel}; }

    void setLineColor(QColor color) {
        color_ = color;
        cache_ = QPixmap();
    }
    // Replaces the picture by one polyline through these points (twips).
    void setTrace(QVector<QPointF> points);
    void clearPicture();
    const QVector<QPointF>& trace() const { return points_; }
    bool hasPicture() const { return !points_.isEmpty(); }

    // The loop's position drawn over the picture: the step 1-32 being heard (0: none),
    // whether this voice sounds at it, and whether the steps up to it are shaded as the
    // take's progress. Beat starts are marked while a step is shown. Repaints only the
    // spans that change.
    void setStepMark(int step, bool sounding, bool progress);
    int stepMark() const { return step_; }
    bool stepSounding() const { return sounding_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintStepMark(QPainter& painter);

    QColor color_;
    QVector<QPointF> points_;
    QPixmap cache_;  // the drawn trace, redrawn when it or the size changes
    int step_ = 0;
    bool sounding_ = false;
    bool progress_ = false;
};

}  // namespace zb
