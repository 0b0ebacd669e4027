// The main window's controls as the user finds them right after a normal start: names,
// texts with their blanks, list items, states, ranges, colours, fonts and places.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAccessible>
#include <QFontDatabase>
#include <QSet>
#include <QTimer>

#include "shell/control_states.h"
#include "shell/look.h"
#include "support/form_fixture.h"

namespace zb {
namespace {

class InventoryTest : public ::testing::Test {
protected:
    test::FormFixture fx;
    Form1& form() { return fx.form(); }
};

QString vname(const char* base, int i) {
    return QStringLiteral("%1_%2").arg(base).arg(i);
}

TEST_F(InventoryTest, WindowFrame) {
    EXPECT_TRUE(fx.loadResult());
    EXPECT_EQ(form().objectName(), "Form1");
    EXPECT_EQ(form().windowTitle(), "Zembrola");
    EXPECT_EQ(form().size(), QSize(769, 417));
    EXPECT_EQ(form().minimumSize(), QSize(769, 417));
    EXPECT_EQ(form().maximumSize(), QSize(769, 417));
    const Qt::WindowFlags flags = form().windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(form().isWindow());
    EXPECT_FALSE(form().windowIcon().isNull());
    EXPECT_EQ(form().windowIcon().pixmap(QSize(32, 32)).size(), QSize(32, 32));
}

struct TextRow {
    QString name;
    QString text;
    bool enabled;
};

TEST_F(InventoryTest, PushButtonsCheckBoxAndTextBoxes) {
    std::vector<TextRow> rows = {
        {"Command1", "+ random     ", false},      {"Command2", "++ random   ", false},
        {"cmdPlay", "-- play --", false},          {"cmdStop", "_stop.", false},
        {"cmdStartRecord", ">> export >>", false}, {"Command3", "!! visit Harmovale !!", true},
        {"cmdSave", "Save As...", false},
    };
    for (int i = 0; i < 4; ++i) {
        rows.push_back({vname("cmdSound", i), QStringLiteral("+0%1          ").arg(i + 1), true});
        rows.push_back({vname("cmdKill", i), "( kill )", false});
    }
    for (const TextRow& r : rows) {
        SCOPED_TRACE(r.name.toStdString());
        auto* b = fx.find<QPushButton>(r.name);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->text(), r.text);
        EXPECT_EQ(b->isEnabled(), r.enabled);
        EXPECT_FALSE(b->accessibleName().isEmpty());
    }
    // Blanks are part of the captions.
    EXPECT_EQ(fx.find<QPushButton>("cmdSound_0")->text().size(), 13);
    EXPECT_EQ(fx.find<QPushButton>("Command1")->text().size(), 13);
    EXPECT_EQ(fx.find<QPushButton>("Command2")->text().size(), 12);
    EXPECT_EQ(fx.find<QGroupBox>("Frame2")->title(), "+ control + ");
    // Every caption fits its fixed-width button in the window's font, whatever the desktop's.
    for (const TextRow& r : rows) {
        auto* b = fx.find<QPushButton>(r.name);
        EXPECT_EQ(b->font().family(), look::windowFontFamily(QFontDatabase::families()));
        const int room = b->width() - 2;  // inside the one-pixel border
        EXPECT_LE(b->fontMetrics().horizontalAdvance(r.text.trimmed()), room)
            << r.name.toStdString();
    }
    EXPECT_EQ(fx.find<QLabel>("Label11")->text(), "loop ");
    EXPECT_EQ(fx.find<QLabel>("Label4")->text(), "bpm =");

    auto* loop = fx.find<QCheckBox>("ckLoop");
    ASSERT_NE(loop, nullptr);
    EXPECT_TRUE(loop->text().isEmpty());
    EXPECT_FALSE(loop->isChecked());
    EXPECT_TRUE(loop->isEnabled());

    auto* bpm = fx.find<QLineEdit>("txtBPM");
    ASSERT_NE(bpm, nullptr);
    EXPECT_TRUE(bpm->isEnabled());
    for (int i = 0; i < 4; ++i) {
        for (const char* t : {"txtTone", "txtPan", "txtVolume"}) {
            auto* e = fx.find<QLineEdit>(vname(t, i));
            ASSERT_NE(e, nullptr) << t << i;
            EXPECT_TRUE(e->text().isEmpty());
            EXPECT_FALSE(e->isEnabled());
        }
        EXPECT_TRUE(fx.find<QLabel>(vname("lblFile", i))->text().isEmpty());
        EXPECT_TRUE(fx.find<QLabel>(vname("txtCaption", i))->text().isEmpty());
        EXPECT_FALSE(fx.find<Waveform>(vname("waveform", i))->hasPicture());
        EXPECT_TRUE(fx.find<Waveform>(vname("waveform", i))->toolTip().isEmpty());
    }
}

TEST_F(InventoryTest, AccessibleNamesASpeakerWouldSay) {
    auto spoken = [this](const QString& name, QAccessible::Text what = QAccessible::Name) {
        QAccessibleInterface* ax = QAccessible::queryAccessibleInterface(fx.find<QWidget>(name));
        return ax ? ax->text(what) : QStringLiteral("(none)");
    };
    const std::pair<QString, QString> names[] = {
        {"cmdSound_0", "+01, Load voice 1"},
        {"cmdKill_0", "( kill ), Clear voice 1"},
        {"cmdSound_3", "+04, Load voice 4"},
        {"SldFrequency_0", "Tone of voice 1"},
        {"SldPan_2", "Pan of voice 3"},
        {"SldVolume_1", "Volume of voice 2"},
        {"SldBPM", "Tempo"},
        {"ckLoop", "Loop"},
        {"cmdPlay", "-- play --, Play"},
        {"cmdStop", "_stop., Stop"},
        {"contFrame_1", "Voice 2"},
        {"cmbNote_3", "Note, voice 4"},
    };
    for (const auto& [name, words] : names) EXPECT_EQ(spoken(name), words) << name.toStdString();
    EXPECT_EQ(spoken("cmbNote_3", QAccessible::Description), "Note length of voice 4");
    // A label is heard by its text, with what it is for as its description.
    form().lblFile[1]->setText("kit-1-kick.wav");
    EXPECT_EQ(spoken("lblFile_1"), "kit-1-kick.wav");
    EXPECT_EQ(spoken("lblFile_1", QAccessible::Description), "Sample file of voice 2");

    // The window is a frame, a waveform strip an image described by the sample's path.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&form())->role(), QAccessible::Window);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form().waveform[2])->role(),
              QAccessible::Graphic);
    // The export's caption change takes the name with it.
    states::lockForExport(form());
    EXPECT_EQ(spoken("cmdStartRecord"), "recording..., Export");
    states::restoreAfterExport(form());
    // Every input control can be told apart by ear.
    QSet<QString> seen;
    for (QWidget* w : form().findChildren<QWidget*>()) {
        if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QAbstractSlider*>(w) &&
            !qobject_cast<QComboBox*>(w) &&
            !(qobject_cast<QLineEdit*>(w) && !w->objectName().isEmpty()))
            continue;
        // The selector's own edit and the parts of its drop-down list are not controls.
        if (qobject_cast<QComboBox*>(w->parentWidget()) || w->window() != &form())
            continue;
        SCOPED_TRACE(w->objectName().toStdString());
        EXPECT_FALSE(w->objectName().isEmpty());
        EXPECT_FALSE(w->accessibleName().isEmpty());
        EXPECT_FALSE(seen.contains(w->accessibleName())) << w->accessibleName().toStdString();
        seen.insert(w->accessibleName());
    }
}

TEST_F(InventoryTest, OnlyLoadTempoLoopAndWebPageAreUsableAfterStart) {
    QSet<QString> usable;
    for (QWidget* w : form().findChildren<QWidget*>()) {
        const bool input = qobject_cast<QAbstractButton*>(w) || qobject_cast<QAbstractSlider*>(w) ||
                           qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w);
        if (input && w->isVisibleTo(&form()) && w->isEnabled())
            usable.insert(w->objectName());
    }
    const QSet<QString> expected = {"cmdSound_0", "cmdSound_1", "cmdSound_2", "cmdSound_3",
                                    "SldBPM",     "txtBPM",     "ckLoop",     "Command3"};
    EXPECT_EQ(usable, expected);
    for (int i = 0; i < 4; ++i) {
        auto* frame = fx.find<QGroupBox>(vname("contFrame", i));
        ASSERT_NE(frame, nullptr);
        EXPECT_FALSE(frame->isVisibleTo(&form()));
        EXPECT_TRUE(frame->title().isEmpty());
    }
}

struct SelectorRow {
    const char* name;
    QStringList items;
};

TEST_F(InventoryTest, SelectorsHoldTheirListsAndNoSelection) {
    const SelectorRow rows[] = {
        {"cmbNote", {"Whole", "Half", "Quarter", "Eigth"}},
        {"cmbFreq", {"1", "2", "3", "4"}},
        {"cmbTone", {"Normal", "+/- 100", "+/- 500", "+/- 1000", "+/- 5000", "+/- 10000"}},
        {"cmbSub", {"None", "Normal", "High", "Low"}},
        {"cmbSubF", {"1", "2", "3", "4"}},
        {"cmbLow", {"Low", "High", "None"}},
    };
    for (int i = 0; i < 4; ++i) {
        for (const SelectorRow& r : rows) {
            SCOPED_TRACE(vname(r.name, i).toStdString());
            auto* s = fx.find<Selector>(vname(r.name, i));
            ASSERT_NE(s, nullptr);
            QStringList items;
            for (int k = 0; k < s->count(); ++k) items << s->itemText(k);
            EXPECT_EQ(items, r.items);
            EXPECT_EQ(s->selectedIndex(), -1);
            EXPECT_TRUE(s->currentText().isEmpty());
            EXPECT_TRUE(s->isEditable());
            EXPECT_EQ(s->insertPolicy(), QComboBox::NoInsert);
            EXPECT_FALSE(s->isEnabled());
        }
    }
}

struct SliderRow {
    QString name;
    int min, max, small, large, tick;
};

TEST_F(InventoryTest, SliderRangesAndSteps) {
    std::vector<SliderRow> rows = {{"SldBPM", 6, 240, 1, 5, 1}};
    for (int i = 0; i < 4; ++i) {
        rows.push_back({vname("SldFrequency", i), 100, 100000, 100, 1000, 20000});
        rows.push_back({vname("SldPan", i), -10000, 10000, 1, 5, 5000});
        rows.push_back({vname("SldVolume", i), -10000, 0, 1, 5, 2000});
    }
    for (const SliderRow& r : rows) {
        SCOPED_TRACE(r.name.toStdString());
        auto* s = fx.find<Slider>(r.name);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->orientation(), Qt::Horizontal);
        EXPECT_EQ(s->minimum(), r.min);
        EXPECT_EQ(s->maximum(), r.max);
        EXPECT_EQ(s->singleStep(), r.small);
        EXPECT_EQ(s->pageStep(), r.large);
        EXPECT_EQ(s->tickInterval(), r.tick);
        EXPECT_EQ(s->isEnabled(), r.name == "SldBPM");
    }
}

TEST_F(InventoryTest, FieldLabelsOfTheVoicePanels) {
    const std::pair<const char*, const char*> labels[] = {
        {"Label1", "Tone"}, {"Label2", "Pan"},       {"Label3", "Volume"},
        {"Label5", "Note"}, {"Label6", "Freq."},     {"Label7", "Tone +/-"},
        {"Label8", "Sub"},  {"Label9", "Sub Freq."}, {"Label10", "Low Note"},
    };
    const QString family = look::panelFontFamily(QFontDatabase::families());
    for (int i = 0; i < 4; ++i) {
        for (const auto& [name, caption] : labels) {
            auto* l = fx.find<QLabel>(vname(name, i));
            ASSERT_NE(l, nullptr) << name << i;
            EXPECT_EQ(l->text(), caption);
            EXPECT_EQ(l->parentWidget(), form().contFrame[i]);
            EXPECT_EQ(l->palette().color(QPalette::WindowText), QColor(look::kLabel));
            EXPECT_FALSE(l->autoFillBackground());
            EXPECT_EQ(l->font().family(), family);
            EXPECT_DOUBLE_EQ(l->font().pointSizeF(), 8.25);
            EXPECT_FALSE(l->font().bold());
        }
        EXPECT_TRUE(form().txtCaption[i]->font().bold());
        EXPECT_DOUBLE_EQ(form().txtCaption[i]->font().pointSizeF(), 9.0);
        EXPECT_TRUE(form().cmbNote[i]->font().bold());
        EXPECT_DOUBLE_EQ(form().cmbNote[i]->font().pointSizeF(), 8.25);
        EXPECT_TRUE(form().txtTone[i]->font().bold());
    }
}

TEST_F(InventoryTest, ColoursOfThePalette) {
    const QColor background(look::kBackground), field(look::kField), face(look::kFace);
    EXPECT_EQ(form().palette().color(QPalette::Window), background);
    EXPECT_EQ(form().contFrame[2]->palette().color(QPalette::Window), background);
    EXPECT_EQ(form().Frame2->palette().color(QPalette::Window), background);
    EXPECT_EQ(form().Frame2->palette().color(QPalette::Text), QColor(look::kLabel));
    EXPECT_EQ(form().cmbLow[1]->palette().color(QPalette::Base), field);
    EXPECT_EQ(form().cmbLow[1]->palette().color(QPalette::Active, QPalette::Text), face);
    EXPECT_EQ(form().txtBPM->palette().color(QPalette::Base), field);
    EXPECT_EQ(form().lblFile[0]->palette().color(QPalette::Window), field);
    EXPECT_EQ(form().waveform[3]->palette().color(QPalette::Window), field);
    EXPECT_EQ(form().cmdPlay->palette().color(QPalette::Button), face);
    EXPECT_EQ(form().cmdSound[1]->palette().color(QPalette::Button), face);
}

TEST_F(InventoryTest, PlacesFollowTheTwipGrid) {
    for (int i = 0; i < 4; ++i) {
        // Panels side by side at 2880 x i, 2640 twips down, 2880 x 3615 twips big.
        EXPECT_EQ(form().contFrame[i]->geometry(), QRect(192 * i, 176, 192, 241));
        // Rows of the top strip 360 twips apart from 240 down; the fixed widths.
        EXPECT_EQ(form().cmdSound[i]->y(), 16 + 24 * i);
        EXPECT_EQ(form().cmdSound[i]->width(), 57);
        EXPECT_EQ(form().lblFile[i]->width(), 133);
        EXPECT_EQ(form().waveform[i]->size(), QSize(489, 17));
        EXPECT_EQ(form().cmdKill[i]->width(), 49);
        EXPECT_DOUBLE_EQ(form().waveform[i]->scaleWidth(), 7335.0);
        EXPECT_DOUBLE_EQ(form().waveform[i]->scaleHeight(), 255.0);
    }
    EXPECT_EQ(form().Frame2->geometry(), QRect(0, 104, 769, 65));
    EXPECT_EQ(form().Command3->width(), 139);
    EXPECT_EQ(form().txtBPM->width(), 33);
    // The five strip buttons and the web page button stand in one row, left to right.
    const QPushButton* row[] = {form().Command1, form().Command2,       form().cmdPlay,
                                form().cmdStop,  form().cmdStartRecord, form().Command3};
    for (size_t k = 0; k < std::size(row); ++k) {
        EXPECT_EQ(row[k]->y(), row[0]->y());
        if (k < 5) {
            EXPECT_EQ(row[k]->width(), 67);
        }
        if (k > 0) {
            EXPECT_GT(row[k]->x(), row[k - 1]->x() + row[k - 1]->width() - 1);
        }
    }
    EXPECT_LE(form().Command3->geometry().right(), 768);
    // The hidden save panel lies below the client area.
    EXPECT_GE(form().Frame6->y(), 417);
    EXPECT_FALSE(form().Frame6->isVisibleTo(&form()));
    EXPECT_FALSE(form().blank->isVisibleTo(&form()));
    EXPECT_EQ(form().cmdSave->parentWidget(), form().Frame6);
}

TEST_F(InventoryTest, StepTimersAreOffAndPrecise) {
    for (StepTimer* t : {form().timBpm, form().timRec}) {
        ASSERT_NE(t, nullptr);
        EXPECT_FALSE(t->isActive());
        EXPECT_EQ(t->timerType(), Qt::PreciseTimer);
    }
    EXPECT_EQ(form().findChild<StepTimer*>("timBpm"), form().timBpm);
    EXPECT_EQ(form().findChild<StepTimer*>("timRec"), form().timRec);
    // Nothing else has started yet: the step counter waits at 0.
    EXPECT_EQ(form().session().currentStep, 0);
}

}  // namespace
}  // namespace zb
