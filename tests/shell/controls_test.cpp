// The control behaviour the program's logic relies on: change notifications only for
// real changes, selectors whose selected index tracks typed text, sliders that report a
// click, and a picture strip that draws in twips.
#include "shell/controls.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "shell/look.h"
#include "support/form_fixture.h"

namespace zb {
namespace {

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override { test::ensureApp(); }
};

TEST_F(ControlsTest, ChangeNotificationOnlyForANewValue) {
    Slider slider;
    slider.setRange(-10000, 10000);
    QLineEdit text;
    QSignalSpy sliderSpy(&slider, &QSlider::valueChanged);
    QSignalSpy textSpy(&text, &QLineEdit::textChanged);

    struct Step {
        int value;
        QString text;
        int sliderSignals;  // cumulative
        int textSignals;
    };
    const Step steps[] = {
        {120, "120", 1, 1},  // new values
        {120, "120", 1, 1},  // the same again: silent
        {-5, "-5", 2, 2},   {-5, "-5", 2, 2}, {0, "", 3, 3},
    };
    for (const Step& s : steps) {
        slider.setValue(s.value);
        text.setText(s.text);
        EXPECT_EQ(sliderSpy.count(), s.sliderSignals) << s.value;
        EXPECT_EQ(textSpy.count(), s.textSignals) << s.text.toStdString();
    }
}

TEST_F(ControlsTest, SelectorSelectedIndex) {
    Selector s;
    s.addItems({"Whole", "Half", "Quarter", "Eigth"});
    s.setSelectedIndex(-1);
    EXPECT_EQ(s.selectedIndex(), -1);

    s.setSelectedIndex(3);
    EXPECT_EQ(s.selectedIndex(), 3);
    EXPECT_EQ(s.currentText(), "Eigth");

    // Typing over the selection leaves no selection.
    s.lineEdit()->selectAll();
    QTest::keyClicks(s.lineEdit(), "Eig");
    EXPECT_EQ(s.currentText(), "Eig");
    EXPECT_EQ(s.selectedIndex(), -1);
    EXPECT_EQ(s.count(), 4);

    // Selecting the same index again puts its text back.
    s.setSelectedIndex(3);
    EXPECT_EQ(s.selectedIndex(), 3);
    EXPECT_EQ(s.currentText(), "Eigth");

    // Renaming the item to the text typed over it selects it again.
    s.lineEdit()->selectAll();
    QTest::keyClicks(s.lineEdit(), "Eig");
    s.setItemText(3, QStringLiteral("Eig"));
    EXPECT_EQ(s.selectedIndex(), 3);
    s.setItemText(3, QStringLiteral("Eigth"));

    s.setSelectedIndex(-1);
    EXPECT_EQ(s.selectedIndex(), -1);
    EXPECT_TRUE(s.currentText().isEmpty());

    // Text typed with nothing selected never selects, even when it matches an item, and
    // Return does not add it to the list.
    QTest::keyClicks(s.lineEdit(), "Sixteenth");
    QTest::keyClick(s.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(s.selectedIndex(), -1);
    EXPECT_EQ(s.count(), 4);

    // Out of range clears like -1.
    s.setSelectedIndex(1);
    s.setSelectedIndex(7);
    EXPECT_EQ(s.selectedIndex(), -1);
    EXPECT_TRUE(s.currentText().isEmpty());
}

TEST_F(ControlsTest, SliderClick) {
    Slider slider;
    slider.setRange(100, 100000);
    slider.resize(200, 24);
    slider.show();
    QSignalSpy clicks(&slider, &Slider::clicked);

    struct Case {
        const char* what;
        std::function<void()> act;
        int clicks;  // cumulative
    };
    const Case cases[] = {
        {"left click", [&] { QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(50, 12)); }, 1},
        {"right click", [&] { QTest::mouseClick(&slider, Qt::RightButton, {}, QPoint(50, 12)); },
         1},
        {"value from code", [&] { slider.setValue(5000); }, 1},
        {"release off the slider",
         [&] {
             QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(50, 12));
             QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(500, 300));
         },
         1},
        {"second left click",
         [&] { QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(150, 12)); }, 2},
    };
    for (const Case& c : cases) {
        c.act();
        EXPECT_EQ(clicks.count(), c.clicks) << c.what;
    }
}

// The tempo slider's 234 ticks, one per value, would merge into a bar: they are drawn
// apart, while the slider keeps its tick interval.
TEST_F(ControlsTest, DenseTicksAreDrawnApart) {
    EXPECT_EQ(readableTickInterval(1, 234, 110), 10);
    EXPECT_EQ(readableTickInterval(20000, 99900, 50), 20000) << "sparse ticks stay as they are";
    Slider slider;
    slider.setRange(6, 240);
    slider.setTickInterval(1);
    slider.setTickPosition(QSlider::TicksBelow);
    slider.resize(120, 28);
    const QImage image = slider.grab().toImage();
    int runs = 0;  // of tick pixels, along the row below the groove that has most
    for (int y = image.height() / 2; y < image.height(); ++y) {
        int row = 0;
        for (int x = 1; x < image.width(); ++x)
            row += image.pixel(x, y) != image.pixel(0, y) &&
                   image.pixel(x - 1, y) == image.pixel(0, y);
        runs = std::max(runs, row);
    }
    EXPECT_GE(runs, 8);
    EXPECT_EQ(slider.tickInterval(), 1);
}

TEST_F(ControlsTest, WaveformDrawsItsTraceInTwips) {
    Waveform w;
    w.resize(489, 17);
    w.setPalette(QPalette(QColor(look::kField)));
    w.setLineColor(QColor(look::kFace));
    EXPECT_DOUBLE_EQ(w.scaleWidth(), 7335.0);
    EXPECT_DOUBLE_EQ(w.scaleHeight(), 255.0);

    // A level line 120 twips down (pixel row 8) across the left half.
    w.setTrace({QPointF(0, 120), QPointF(3667, 120)});
    EXPECT_TRUE(w.hasPicture());
    QImage image = w.grab().toImage();
    EXPECT_EQ(image.pixelColor(100, 8), QColor(look::kFace));
    EXPECT_EQ(image.pixelColor(100, 3), QColor(look::kField));
    EXPECT_EQ(image.pixelColor(400, 8), QColor(look::kField));

    w.clearPicture();
    EXPECT_FALSE(w.hasPicture());
    image = w.grab().toImage();
    EXPECT_EQ(image.pixelColor(100, 8), QColor(look::kField));
}

TEST_F(ControlsTest, FormControlsKeepTheSemantics) {
    test::FormFixture fx({.runFormLoad = false});
    Form1& f = fx.form();
    QSignalSpy tempo(f.SldBPM, &QSlider::valueChanged);
    f.SldBPM->setValue(120);
    f.SldBPM->setValue(120);
    EXPECT_EQ(tempo.count(), 1);

    f.cmbTone[0]->setEnabled(true);
    f.cmbTone[0]->setSelectedIndex(5);
    EXPECT_EQ(f.cmbTone[0]->selectedIndex(), 5);
    f.cmbTone[0]->lineEdit()->selectAll();
    QTest::keyClicks(f.cmbTone[0]->lineEdit(), "x");
    EXPECT_EQ(f.cmbTone[0]->selectedIndex(), -1);
}

}  // namespace
}  // namespace zb
