#include "shell/voices.h"

#include <QColor>
#include <QFile>
#include <exception>

#include "audio/sound.h"
#include "core/dialogs.h"
#include "core/typed_number.h"
#include "names/file_names.h"
#include "shell/control_states.h"
#include "shell/form1.h"
#include "shell/user_action.h"
#include "voices/sample_path.h"
#include "voices/trace.h"

namespace zb {

namespace {

constexpr int32_t kSubVolume = -2000;
constexpr int32_t kLowFrequency = 10000;
constexpr int32_t kBufferFlags = audio::kCtrlFrequency | audio::kCtrlPan | audio::kCtrlVolume;
constexpr int kOpenFlags = 0x1004;  // file must exist, no read-only box
const QColor kTraceColor(203, 228, 199);

const char* const kSampleFilter = "Wave Files (*.wav)|*.wav";
const char* const kLoadCaption = "Couldn't load";
const char* const kTooShortText =
    "This file isn't long enough to control effects.  Please choose a longer audio file.";
const char* const kBadRateText =
    "This file's sample rate is outside 100 to 100000 samples per second.  Please choose "
    "another audio file.";

// Load defaults of the six pattern lists.
constexpr int kNoteWhole = 0, kFreq4 = 3, kToneNormal = 0, kSubNone = 0, kSubF4 = 3, kLowNone = 2;

std::optional<int32_t> typedValue(const QLineEdit* box, int32_t min, int32_t max) {
    return num::TypedSliderValue(box->text().toStdString(), min, max);
}

}  // namespace

Voices::Voices(Form1& form) : form_(form) {
    for (int i = 0; i < Form1::kVoices; ++i) {
        connect(form_.cmdSound[i], &QPushButton::clicked, this, [this, i] { cmdSound_Click(i); });
        connect(form_.cmdKill[i], &QPushButton::clicked, this,
                [this, i] { quietAction([&] { cmdKill_Click(i); }); });
        connect(form_.SldFrequency[i], &Slider::clicked, this,
                [this, i] { quietAction([&] { SldFrequency_Click(i); }); });
        connect(form_.SldPan[i], &QSlider::valueChanged, this,
                [this, i] { quietAction([&] { SldPan_Change(i); }); });
        connect(form_.SldVolume[i], &QSlider::valueChanged, this,
                [this, i] { quietAction([&] { SldVolume_Change(i); }); });
        connect(form_.txtTone[i], &QLineEdit::textChanged, this,
                [this, i] { quietAction([&] { txtTone_Change(i); }); });
        connect(form_.txtPan[i], &QLineEdit::textChanged, this,
                [this, i] { quietAction([&] { txtPan_Change(i); }); });
        connect(form_.txtVolume[i], &QLineEdit::textChanged, this,
                [this, i] { quietAction([&] { txtVolume_Change(i); }); });
    }
}

// ---- Loading and clearing ----

void Voices::cmdSound_Click(int i) {
    // Phase 1: choose the file.
    OpenFileRequest request;
    request.flags = kOpenFlags;
    request.filterIndex = lastFilterIndex;
    request.filter = QString::fromLatin1(kSampleFilter);
    request.fileName = QString();
    request.initialDir = voices::InitialSampleDir(lastSampleDir, form_.services().programDir);
    const OpenFileResult chosen = form_.dialogs().openFile(&form_, request);
    if (chosen.fileName.isEmpty())
        return;

    const QString path = chosen.fileName;
    // Bytes of the name that are not UTF-8 show as replacement characters.
    const QString name = names::shown(voices::SampleName(path));
    lastSampleDir = voices::DirectoryOfPath(path);
    lastFilterIndex = chosen.filterIndex;
    form_.waveform[i]->setToolTip(names::shown(path));
    form_.waveform[i]->setAccessibleDescription(names::shown(path));

    // Phase 2: make the buffers and show the slot. A failure ends the load where it
    // happens; what was done before it stays.
    VoiceState& voice = form_.session().voices[i];
    try {
        if (voice.mainBuffer && voice.mainBuffer->GetStatus() == audio::kStatusPlaying)
            voice.mainBuffer->Stop();
        audio::BufferDesc desc;
        desc.flags = kBufferFlags;

        form_.UnloadOtherWindows();

        // Without a sound device (no mixer at start-up) no buffer can be made; that is an
        // ordinary failed creation.
        if (!form_.session().soundDevice)
            throw audio::SoundError(audio::kErrNoDriver, "no sound device");
        audio::SoundDevice& device = *form_.session().soundDevice;
        const std::string file = names::toBytes(path).toStdString();

        auto mainBuffer = device.CreateBufferFromFile(file, desc);
        // A rate the tone slider cannot show would leave a slot that is neither loaded nor
        // empty: refuse the file while the slot still holds what it held.
        const int32_t rate = desc.format.samplesPerSec;
        if (rate < audio::kMinFrequency || rate > audio::kMaxFrequency) {
            mainBuffer.reset();
            form_.dialogs().message(&form_, QString::fromLatin1(kBadRateText),
                                    QString::fromLatin1(kLoadCaption), MsgIcon::Error,
                                    MsgButtons::Ok);
            return;
        }
        voice.mainBuffer = std::move(mainBuffer);
        voice.subBuffer = device.CreateBufferFromFile(file, desc);
        voice.lowBuffer = device.CreateBufferFromFile(file, desc);

        form_.txtCaption[i]->setText(name);
        form_.lblFile[i]->setText(name);
        form_.contFrame[i]->setTitle(name);
        form_.contFrame[i]->setVisible(true);

        form_.SldFrequency[i]->setValue(rate);
        voice.baseFrequency = rate;

        form_.cmbNote[i]->setSelectedIndex(kNoteWhole);
        form_.cmbFreq[i]->setSelectedIndex(kFreq4);
        form_.cmbTone[i]->setSelectedIndex(kToneNormal);
        form_.cmbSub[i]->setSelectedIndex(kSubNone);
        form_.cmbSubF[i]->setSelectedIndex(kSubF4);
        form_.cmbLow[i]->setSelectedIndex(kLowNone);

        form_.SldPan[i]->setValue(0);
        form_.SldVolume[i]->setValue(0);

        drawTrace(i, path);
        ApplyVoiceSettings(i);
        EnableVoiceControls(i);
    } catch (const audio::SoundError& e) {
        if (e.code() == audio::kErrBufferTooSmall)
            form_.dialogs().message(&form_, QString::fromLatin1(kTooShortText),
                                    QString::fromLatin1(kLoadCaption), MsgIcon::Error,
                                    MsgButtons::Ok);
    } catch (const std::exception&) {
        // Any other failure ends the load without a message.
    }
}

void Voices::drawTrace(int i, const QString& path) {
    Waveform* strip = form_.waveform[i];
    strip->setLineColor(kTraceColor);
    const std::vector<int16_t> values = voices::ReadTraceValues(path);
    const voices::TraceGeometry g = voices::TracePoints(
        values, static_cast<float>(strip->scaleWidth()), static_cast<float>(strip->scaleHeight()));
    strip->setTrace(g.points);
}

void Voices::cmdKill_Click(int i) {
    VoiceState& voice = form_.session().voices[i];
    if (!voice.mainBuffer)
        return;

    form_.lblFile[i]->setText(QString());
    form_.contFrame[i]->setTitle(QString());
    form_.contFrame[i]->setVisible(false);

    form_.waveform[i]->setToolTip(QString());
    form_.waveform[i]->setAccessibleDescription(QString());
    form_.waveform[i]->clearPicture();

    for (const auto* buffer : {&voice.mainBuffer, &voice.subBuffer, &voice.lowBuffer}) {
        // A slot whose load failed half-way may lack a sub or low buffer.
        if (*buffer && (*buffer)->GetStatus() == audio::kStatusPlaying)
            (*buffer)->Stop();
    }
    voice.mainBuffer.reset();
    voice.subBuffer.reset();
    voice.lowBuffer.reset();

    form_.cmdKill[i]->setEnabled(false);
    DisableVoiceControls(i);
    if (noSlotNamed())
        states::exportWithoutSlots(form_);
}

bool Voices::noSlotNamed() const {
    for (const QLabel* label : form_.lblFile)
        if (!label->text().isEmpty())
            return false;
    return true;
}

void Voices::EnableVoiceControls(int i) {
    // While an export runs it owns the transport: a load must not hand back a way to start
    // playback or a second export alongside it. The export gives them back when it ends.
    states::voiceLoaded(form_, i, form_.session().exporting());
}

void Voices::DisableVoiceControls(int i) {
    states::voiceCleared(form_, i, noSlotNamed());
    form_.txtTone[i]->setText(QString());
    form_.txtPan[i]->setText(QString());
    form_.txtVolume[i]->setText(QString());
    form_.cmbNote[i]->setSelectedIndex(-1);
    form_.cmbTone[i]->setSelectedIndex(-1);
    form_.cmbFreq[i]->setSelectedIndex(-1);
    form_.cmbSub[i]->setSelectedIndex(-1);
    form_.cmbSubF[i]->setSelectedIndex(-1);
    form_.cmbLow[i]->setSelectedIndex(-1);
}

// ---- Tone, pan and volume ----

void Voices::ApplyVoiceSettings(int i) {
    const int32_t tone = form_.SldFrequency[i]->value();
    const int32_t pan = form_.SldPan[i]->value();
    const int32_t volume = form_.SldVolume[i]->value();

    // Each text runs its own change handling, which puts the same value back on the
    // slider: no change, so the chain ends there.
    form_.txtTone[i]->setText(QString::number(tone));
    form_.txtPan[i]->setText(QString::number(pan));
    form_.txtVolume[i]->setText(QString::number(volume));

    VoiceState& voice = form_.session().voices[i];
    if (!voice.mainBuffer)
        return;
    voice.mainBuffer->SetFrequency(tone);
    voice.mainBuffer->SetPan(pan);
    voice.mainBuffer->SetVolume(volume);
    // A slot whose load failed half-way may lack these.
    if (voice.subBuffer) {
        voice.subBuffer->SetFrequency(tone);
        voice.subBuffer->SetVolume(kSubVolume);
    }
    if (voice.lowBuffer)
        voice.lowBuffer->SetFrequency(kLowFrequency);
}

void Voices::SldFrequency_Click(int i) {
    ApplyVoiceSettings(i);
}
void Voices::SldPan_Change(int i) {
    ApplyVoiceSettings(i);
}
void Voices::SldVolume_Change(int i) {
    ApplyVoiceSettings(i);
}

void Voices::txtTone_Change(int i) {
    if (form_.txtTone[i]->text().isEmpty())
        return;
    if (auto v = typedValue(form_.txtTone[i], audio::kMinFrequency, audio::kMaxFrequency))
        form_.SldFrequency[i]->setValue(*v);
}

void Voices::txtPan_Change(int i) {
    if (form_.txtPan[i]->text().isEmpty())
        return;
    if (auto v = typedValue(form_.txtPan[i], audio::kPanLeft, audio::kPanRight))
        form_.SldPan[i]->setValue(*v);
}

void Voices::txtVolume_Change(int i) {
    if (form_.txtVolume[i]->text().isEmpty())
        return;
    if (auto v = typedValue(form_.txtVolume[i], audio::kVolumeMin, audio::kVolumeMax))
        form_.SldVolume[i]->setValue(*v);
}

}  // namespace zb
