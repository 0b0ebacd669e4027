// Builds the main window: every control with its name, texts, items, initial state,
// colours and place, then the subsystems that handle the controls' events.
#include "shell/form1.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <type_traits>
#include <vector>

#include "browser/launcher/browser_launcher.h"
#include "shell/accessibility.h"
#include "shell/control_states.h"
#include "shell/look.h"
#include "shell/randomizer.h"
#include "shell/sequencer.h"
#include "shell/step_marker.h"
#include "shell/transport_keys.h"
#include "shell/voices.h"

namespace zb {

namespace {

QString indexed(const char* name, int i) {
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(i);
}

QString perVoice(const char* what, int i) {
    return QStringLiteral("%1 %2").arg(QLatin1String(what)).arg(i + 1);
}

template <typename W>
W* place(W* widget, const QString& name, const QString& accessible, QRect rect) {
    widget->setObjectName(name);
    widget->setGeometry(rect);
    if constexpr (std::is_base_of_v<QLabel, W>) {
        // A label is heard by its text, which changes; what it is for comes after it.
        widget->setAccessibleDescription(accessible);
    } else {
        widget->setAccessibleName(accessible);
    }
    return widget;
}

QPalette fieldPalette(QPalette p) {
    const QColor bg(look::kField), fg(look::kFace), grey(look::kDisabledText);
    for (auto role : {QPalette::Base, QPalette::Window, QPalette::Button}) p.setColor(role, bg);
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
        p.setColor(role, fg);
        p.setColor(QPalette::Disabled, role, grey);
    }
    return p;
}

QPalette backgroundPalette(QPalette p, QRgb text) {
    p.setColor(QPalette::Window, QColor(look::kBackground));
    p.setColor(QPalette::WindowText, QColor(text));
    // A group box draws its caption in the Text role.
    p.setColor(QPalette::Text, QColor(text));
    return p;
}

QPalette buttonPalette(QPalette p) {
    p.setColor(QPalette::Button, QColor(look::kFace));
    p.setColor(QPalette::ButtonText, Qt::black);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(look::kDisabledText));
    return p;
}

QFont panelFont(const QString& family, double points, bool bold) {
    QFont font(family);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void setupSlider(Slider* s, int min, int max, int small, int large, int tick) {
    s->setRange(min, max);
    s->setSingleStep(small);
    s->setPageStep(large);
    s->setTickInterval(tick);
    s->setTickPosition(QSlider::TicksBelow);
}

}  // namespace

Form1::Form1(const Services& services, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      services_(services) {
    installAccessibleRoles();
    buildControls();
    // Each subsystem wires its own handlers to the controls built above; the export has no
    // widgets, so its buttons are wired here.
    voices_ = std::make_unique<Voices>(*this);
    sequencer_ = std::make_unique<Sequencer>(*this);
    randomizer_ = std::make_unique<Randomizer>(*this);
    exporter_ = std::make_unique<Exporter>(session_, player_, *timRec, services_,
                                           static_cast<ExportWindow&>(*this));
    connect(cmdStartRecord, &QPushButton::clicked, exporter_.get(),
            &Exporter::cmdStartRecord_Click);
    connect(cmdSave, &QPushButton::clicked, exporter_.get(), &Exporter::cmdSave_Click);
    browser_ = std::make_unique<BrowserLauncher>(Command3, services_.programDir);
    marker_ = std::make_unique<StepMarker>(*this);
    keys_ = std::make_unique<TransportKeys>(*this);
}

Form1::~Form1() {
    // The subsystems refer to the controls and the session: they go first. The session then
    // releases the buffers before the device that plays them.
    keys_.reset();
    marker_.reset();
    browser_.reset();
    exporter_.reset();
    randomizer_.reset();
    sequencer_.reset();
    voices_.reset();
}

void Form1::lockExportControls() {
    states::lockForExport(*this);
}

void Form1::restoreIdleControls() {
    states::restoreAfterExport(*this);
}

void Form1::setExportCaption(const QString& text) {
    states::setCaption(cmdStartRecord, text);
}

void Form1::setSaveEnabled(bool enabled) {
    cmdSave->setEnabled(enabled);
}

void Form1::stopPlayback() {
    if (timBpm->isActive())
        sequencer_->cmdStop_Click();
}

void Form1::stepPlayed(int16_t step, uint8_t voices, int64_t frame) {
    marker_->stepPlayed(step, voices, frame, true);
}

void Form1::readVoiceSettings() {
    for (int16_t v = 0; v < kVoices; ++v) sequencer_->ReadVoiceSettings(v);
}

void Form1::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    setAccessibleName(QStringLiteral("Zembrola"));
    setWindowTitle(QStringLiteral("Zembrola"));
    setWindowIcon(QIcon(QPixmap::fromImage(look::windowIconImage())));
    setFixedSize(look::px(look::kClientWidthTwips), look::px(look::kClientHeightTwips));
    setPalette(backgroundPalette(palette(), look::kFace));
    setAutoFillBackground(true);
    // The window's own font; its size is fitted to the buttons once they are all made.
    const QStringList families = QFontDatabase::families();
    QFont windowFont = font();
    windowFont.setFamily(look::windowFontFamily(families));
    std::vector<QWidget*> windowFontUsers;
    std::vector<QPushButton*> pushButtons;
    // Flat-coloured push buttons with a thin border, so that the captions keep their room.
    // Only the window's own panels are named: message boxes and file dialogs opened over
    // the window keep the system's look.
    const QString buttons =
        QStringLiteral("#Frame1 QPushButton, #Frame2 QPushButton, #Frame6 QPushButton");
    auto rule = [&buttons](const QString& state, const QString& body) {
        QStringList selectors = buttons.split(QStringLiteral(", "));
        for (QString& sel : selectors) sel += state;
        return selectors.join(QStringLiteral(", ")) + QStringLiteral(" { ") + body +
               QStringLiteral(" }\n");
    };
    setStyleSheet(
        rule({}, QStringLiteral("background-color: rgb(203, 228, 199); color: black;"
                                " border: 1px solid rgb(40, 36, 23); padding: 0px;")) +
        rule(QStringLiteral(":pressed"), QStringLiteral("background-color: rgb(170, 195, 166);")) +
        rule(QStringLiteral(":disabled"), QStringLiteral("color: rgb(128, 128, 128);")) +
        rule(QStringLiteral(":focus"), QStringLiteral("border: 1px dotted black;")) +
        // A caption with trailing blanks stands at the left, where its blanks put it.
        rule(QStringLiteral("[trailingBlanks=\"true\"]"),
             QStringLiteral("text-align: left; padding-left: 2px;")));

    const QString family = look::panelFontFamily(families);
    const QFont boldFont = panelFont(family, 8.25, true);
    const QFont labelFont = panelFont(family, 8.25, false);
    const QFont titleFont = panelFont(family, 9.0, true);

    auto button = [&pushButtons](QWidget* parent, const QString& name, const QString& text,
                                 const QString& accessible, QRect rect, bool enabled) {
        auto* b = place(new QPushButton(text, parent), name, accessible, rect);
        pushButtons.push_back(b);
        b->setPalette(buttonPalette(b->palette()));
        b->setAutoFillBackground(true);
        b->setEnabled(enabled);
        // Reached with Tab only: a press of the pointer leaves the keyboard focus where Space
        // plays and stops.
        b->setFocusPolicy(Qt::TabFocus);
        b->setProperty(states::kButtonRole, accessible);
        states::nameButton(b);
        b->setProperty("trailingBlanks", text.endsWith(QLatin1Char(' ')));
        return b;
    };

    // --- Top strip: one row per voice ---
    Frame1 = place(new QWidget(this), QStringLiteral("Frame1"), QStringLiteral("Voice slots"),
                   look::twipsRect(0, 0, look::kClientWidthTwips, 1695));
    Frame1->setPalette(backgroundPalette(Frame1->palette(), look::kFace));
    Frame1->setAutoFillBackground(true);
    for (int i = 0; i < kVoices; ++i) {
        // Buttons and name fields are 240 high, so the last row ends where the control
        // strip begins; the waveform strips keep their 255 drawing height.
        const int top = 240 + 360 * i;
        cmdSound[i] =
            button(Frame1, indexed("cmdSound", i), QStringLiteral("+0%1          ").arg(i + 1),
                   perVoice("Load voice", i), look::twipsRect(120, top, 855, 240), true);

        lblFile[i] =
            place(new QLabel(Frame1), indexed("lblFile", i), perVoice("Sample file of voice", i),
                  look::twipsRect(1095, top, 1995, 240));
        lblFile[i]->setPalette(fieldPalette(lblFile[i]->palette()));
        lblFile[i]->setAutoFillBackground(true);

        waveform[i] =
            place(new Waveform(Frame1), indexed("waveform", i), perVoice("Waveform of voice", i),
                  look::twipsRect(3210, top, 7335, 255));
        waveform[i]->setPalette(fieldPalette(waveform[i]->palette()));
        waveform[i]->setLineColor(QColor(look::kFace));

        cmdKill[i] =
            button(Frame1, indexed("cmdKill", i), QStringLiteral("( kill )"),
                   perVoice("Clear voice", i), look::twipsRect(10665, top, 735, 240), false);
    }

    // --- Control strip ---
    Frame2 =
        place(new QGroupBox(QStringLiteral("+ control + "), this), QStringLiteral("Frame2"),
              QStringLiteral("Controls"), look::twipsRect(0, 1560, look::kClientWidthTwips, 975));
    Frame2->setPalette(backgroundPalette(Frame2->palette(), look::kLabel));
    Frame2->setAutoFillBackground(true);

    Label4 = place(new QLabel(QStringLiteral("bpm ="), Frame2), QStringLiteral("Label4"),
                   QStringLiteral("bpm ="), look::twipsRect(120, 240, 1800, 240));
    SldBPM = place(new Slider(Frame2), QStringLiteral("SldBPM"), QStringLiteral("Tempo"),
                   look::twipsRect(120, 480, 1800, 420));
    setupSlider(SldBPM, 6, 240, 1, 5, 1);
    Label4->setBuddy(SldBPM);
    txtBPM =
        place(new QLineEdit(Frame2), QStringLiteral("txtBPM"),
              QStringLiteral("Tempo in beats per minute"), look::twipsRect(2040, 480, 495, 315));
    txtBPM->setPalette(fieldPalette(txtBPM->palette()));
    Label11 = place(new QLabel(QStringLiteral("loop "), Frame2), QStringLiteral("Label11"),
                    QStringLiteral("loop"), look::twipsRect(2655, 510, 450, 255));
    ckLoop = place(new QCheckBox(Frame2), QStringLiteral("ckLoop"), QStringLiteral("Loop"),
                   look::twipsRect(3105, 510, 255, 255));
    Label11->setBuddy(ckLoop);
    for (QLabel* l : {Label4, Label11}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, QColor(look::kLabel));
        l->setPalette(p);
    }

    struct StripButton {
        QPushButton** field;
        const char* name;
        const char* text;
        const char* accessible;
        int width;
        bool enabled;
    };
    const StripButton strip[] = {
        {&Command1, "Command1", "+ random     ", "Random patterns", 1000, false},
        {&Command2, "Command2", "++ random   ", "Random patterns, tones and pans", 1000, false},
        {&cmdPlay, "cmdPlay", "-- play --", "Play", 1000, false},
        {&cmdStop, "cmdStop", "_stop.", "Stop", 1000, false},
        {&cmdStartRecord, "cmdStartRecord", ">> export >>", "Export", 1000, false},
        {&Command3, "Command3", "!! visit Harmovale !!", "Visit Harmovale", 2085, true},
    };
    int left = 3600;
    for (const StripButton& b : strip) {
        *b.field = button(Frame2, QLatin1String(b.name), QLatin1String(b.text),
                          QLatin1String(b.accessible), look::twipsRect(left, 480, b.width, 375),
                          b.enabled);
        left += b.width + 90;
    }

    for (QWidget* w :
         std::initializer_list<QWidget*>{Frame1, Frame2, Label4, Label11, txtBPM, ckLoop}) {
        windowFontUsers.push_back(w);
    }
    for (QLabel* l : lblFile) windowFontUsers.push_back(l);

    // --- Voice panels ---
    struct Row {
        PerVoice<QLabel>* label;
        const char* labelName;
        const char* caption;
        int top;
    };
    const Row rows[] = {
        {&Label1, "Label1", "Tone", 360},        {&Label2, "Label2", "Pan", 720},
        {&Label3, "Label3", "Volume", 1080},     {&Label5, "Label5", "Note", 1440},
        {&Label6, "Label6", "Freq.", 1800},      {&Label7, "Label7", "Tone +/-", 2160},
        {&Label8, "Label8", "Sub", 2520},        {&Label9, "Label9", "Sub Freq.", 2880},
        {&Label10, "Label10", "Low Note", 3240},
    };
    struct SelectorLayout {
        PerVoice<Selector>* field;
        const char* name;
        const char* accessible;
        QStringList items;
    };
    const SelectorLayout selectors[] = {
        {&cmbNote, "cmbNote", "Note length of voice", {"Whole", "Half", "Quarter", "Eigth"}},
        {&cmbFreq, "cmbFreq", "Beats of voice", {"1", "2", "3", "4"}},
        {&cmbTone,
         "cmbTone",
         "Tone spread of voice",
         {"Normal", "+/- 100", "+/- 500", "+/- 1000", "+/- 5000", "+/- 10000"}},
        {&cmbSub, "cmbSub", "Sub note of voice", {"None", "Normal", "High", "Low"}},
        {&cmbSubF, "cmbSubF", "Sub note beats of voice", {"1", "2", "3", "4"}},
        {&cmbLow, "cmbLow", "Low note of voice", {"Low", "High", "None"}},
    };
    struct SliderLayout {
        PerVoice<Slider>* slider;
        const char* sliderName;
        const char* accessible;
        PerVoice<QLineEdit>* text;
        const char* textName;
        int min, max, small, large, tick;
    };
    const SliderLayout sliders[] = {
        {&SldFrequency, "SldFrequency", "Tone of voice", &txtTone, "txtTone", 100, 100000, 100,
         1000, 20000},
        {&SldPan, "SldPan", "Pan of voice", &txtPan, "txtPan", -10000, 10000, 1, 5, 5000},
        {&SldVolume, "SldVolume", "Volume of voice", &txtVolume, "txtVolume", -10000, 0, 1, 5,
         2000},
    };

    for (int i = 0; i < kVoices; ++i) {
        auto* frame = place(new QGroupBox(this), indexed("contFrame", i), perVoice("Voice", i),
                            look::twipsRect(2880 * i, 2640, 2880, 3615));
        contFrame[i] = frame;
        frame->setPalette(backgroundPalette(frame->palette(), look::kFace));
        frame->setAutoFillBackground(true);
        frame->setFont(boldFont);
        frame->setVisible(false);

        txtCaption[i] =
            place(new QLabel(frame), indexed("txtCaption", i), perVoice("Sample name of voice", i),
                  look::twipsRect(120, 0, 2655, 330));
        txtCaption[i]->setFont(titleFont);
        // The opaque title label lies over the panel's own caption, which shows the same
        // name, so the name is drawn once.
        frame->setAlignment(Qt::AlignHCenter);
        txtCaption[i]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        txtCaption[i]->setPalette(backgroundPalette(txtCaption[i]->palette(), look::kFace));
        txtCaption[i]->setAutoFillBackground(true);

        for (const Row& row : rows) {
            QLabel* label =
                place(new QLabel(QLatin1String(row.caption), frame), indexed(row.labelName, i),
                      QStringLiteral("%1, voice %2").arg(QLatin1String(row.caption)).arg(i + 1),
                      look::twipsRect(75, row.top + 30, 960, 255));
            label->setFont(labelFont);
            label->setAutoFillBackground(false);  // transparent on the panel
            QPalette p = label->palette();
            p.setColor(QPalette::WindowText, QColor(look::kLabel));
            label->setPalette(p);
            (*row.label)[i] = label;
        }

        for (int k = 0; k < 3; ++k) {
            const SliderLayout& s = sliders[k];
            const int top = rows[k].top;
            Slider* slider = place(new Slider(frame), indexed(s.sliderName, i),
                                   perVoice(s.accessible, i), look::twipsRect(1050, top, 960, 330));
            setupSlider(slider, s.min, s.max, s.small, s.large, s.tick);
            slider->setEnabled(false);
            (*s.slider)[i] = slider;

            QLineEdit* text = place(new QLineEdit(frame), indexed(s.textName, i),
                                    QStringLiteral("%1 as a number").arg(perVoice(s.accessible, i)),
                                    look::twipsRect(2040, top, 780, 300));
            text->setFont(boldFont);
            text->setPalette(fieldPalette(text->palette()));
            text->setEnabled(false);
            (*s.text)[i] = text;
            (*rows[k].label)[i]->setBuddy(slider);
        }

        for (int k = 0; k < 6; ++k) {
            const SelectorLayout& s = selectors[k];
            Selector* selector = new Selector(frame);
            selector->addItems(s.items);
            selector->setSelectedIndex(-1);
            // Named as it is seen, by its field label and voice.
            place(selector, indexed(s.name, i), (*rows[3 + k].label)[i]->accessibleDescription(),
                  look::twipsRect(1050, rows[3 + k].top, 1770, 315));
            selector->setAccessibleDescription(perVoice(s.accessible, i));
            selector->setFont(boldFont);
            selector->setPalette(fieldPalette(selector->palette()));
            selector->setEnabled(false);
            (*s.field)[i] = selector;
            (*rows[3 + k].label)[i]->setBuddy(selector);
        }
    }

    // --- Controls without a visible face ---
    for (StepTimer** timer : {&timBpm, &timRec}) {
        *timer = new StepTimer(this);
        (*timer)->setTimerType(Qt::PreciseTimer);
        (*timer)->setInterval(100);
    }
    timBpm->setObjectName(QStringLiteral("timBpm"));
    timRec->setObjectName(QStringLiteral("timRec"));

    // The empty picture that clearing a voice copies into its waveform strip.
    blank = place(new QLabel(this), QStringLiteral("blank"), QStringLiteral("Empty picture"),
                  look::twipsRect(3210, 240, 7335, 255));
    blank->setVisible(false);

    // Holds the Save As button, which only the export logic clicks; it lies below the
    // client area and is never shown.
    Frame6 = place(new QWidget(this), QStringLiteral("Frame6"), QStringLiteral("Save take"),
                   look::twipsRect(0, look::kClientHeightTwips, 1500, 495));
    cmdSave = button(Frame6, QStringLiteral("cmdSave"), QStringLiteral("Save As..."),
                     QStringLiteral("Save As"), look::twipsRect(120, 60, 1215, 375), false);
    Frame6->setVisible(false);

    windowFont.setPointSizeF(look::windowFontPoints([&](double points) {
        QFont trial = windowFont;
        trial.setPointSizeF(points);
        const QFontMetrics metrics(trial);
        for (const QPushButton* b : pushButtons) {
            // Inside the one-pixel border of the button's style.
            if (metrics.horizontalAdvance(b->text().trimmed()) > b->width() - 2)
                return false;
        }
        return true;
    }));
    setFont(windowFont);
    // Styled widgets do not take the window's font from their parent: set it on each.
    windowFontUsers.insert(windowFontUsers.end(), pushButtons.begin(), pushButtons.end());
    for (QWidget* w : windowFontUsers) w->setFont(windowFont);
}

}  // namespace zb
