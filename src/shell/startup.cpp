// Start-up, the close step, and releasing the sound objects.
#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <exception>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "browser/launcher/browser_launcher.h"
#include "core/dialogs.h"
#include "registry/fileass.h"
#include "shell/form1.h"

namespace zb {

namespace {
// Any non-zero value stands for the one mixer the program opens.
constexpr int kMixerOpen = 1;
constexpr int kSoundWatchMs = 250;
constexpr int kSoundRetryTicks = 4;  // once the sound is lost, a look for the server a second
}  // namespace

bool Form1::Form_Load() {
    fileass::RegisterSongDocumentType(services_.dataDir, services_.executablePath);
    // The tempo handler follows from this change: step period and tempo text.
    SldBPM->setValue(120);
    cmdSave->setEnabled(false);
    exporter().captureStarted = false;

    mixerHandle = services_.audio->openMixer() ? kMixerOpen : 0;
    if (mixerHandle == 0) {
        dialogs().message(this, QStringLiteral("Couldn't open the mixer."),
                          QStringLiteral("Zembrola"), MsgIcon::None, MsgButtons::Ok);
        return true;
    }
    InitSoundDevice();
    return !unloaded_;
}

void Form1::InitSoundDevice() {
    try {
        session_.soundRoot = std::make_shared<audio::SoundRoot>(*services_.audio);
        session_.soundDevice = session_.soundRoot->CreateSoundDevice("");
        session_.soundDevice->SetCooperativeLevel(static_cast<intptr_t>(winId()), 1);
    } catch (const std::exception&) {
        dialogs().message(
            this, QStringLiteral("Could not initialize DirectSound.\r\nThis sample will exit."),
            QStringLiteral("Exiting..."), MsgIcon::Information, MsgButtons::Ok);
        close();
        return;
    }

    // Everything one UI event asks of the buffers reaches the audio thread as one batch:
    // the first command of a batch posts a commit that runs once the event is handled.
    std::weak_ptr<audio::SoundDevice> device = session_.soundDevice;
    session_.soundDevice->engine().setCommitScheduler([this, device] {
        QTimer::singleShot(0, this, [device] {
            if (auto d = device.lock()) {
                d->engine().commit();
                d->engine().collectGarbage();
            }
        });
    });

    // With a real device the step clocks follow the output's own frame count, so every
    // step lands exactly on its frame however the device's clock drifts from the system's.
    if (session_.soundDevice->driver().realtime()) {
        FrameClock clock;
        clock.rate = session_.soundDevice->engine().outputRate();
        clock.lookahead =
            StepLookaheadFrames(session_.soundDevice->driver().chunkFrames(), clock.rate);
        // The frame count moves a chunk at a time; the time since the last chunk carries it
        // on between them, so that a step event due mid-chunk is not re-armed until the
        // next chunk arrives.
        clock.now = [device] {
            const auto d = device.lock();
            return d ? d->engine().framesRendered() + d->driver().framesSinceLastPeriod()
                     : int64_t{0};
        };
        clock.wake = [device] {
            if (const auto d = device.lock())
                d->wakeOutput();
        };
        timBpm->setFrameClock(clock);
        timRec->setFrameClock(clock);
        // While the steps run the output may queue deeper, to ride out stalls of the machine:
        // every step is queued ahead by the clock anyway. The queue grows only after a
        // run's first step, so a Play or an export starts from the usual depth, and the
        // growth moves no frame against the sink (a take's place in the recording holds).
        QueueGrowth growth;
        growth.margin = clock.rate / 100;
        growth.deepen = [device](int64_t frames) {
            const auto d = device.lock();
            return d ? d->driver().deepen(frames) : int64_t{0};
        };
        growth.shallow = [device] {
            if (const auto d = device.lock())
                d->driver().shallow(false);
        };
        timBpm->setQueueGrowth(growth);
        timRec->setQueueGrowth(growth);

        // The sound server may go away while the program runs. The driver notes it on its
        // own thread; this poll on the UI thread tells the user once and puts the step
        // clocks back on the wall clock, since the output's frame count stops moving. The
        // loop and an export go on silently, so a take in progress still ends and is kept.
        // The same poll lets the output rest while the window is idle, and once the sound is
        // lost it looks for the server about once a second (not during an export, whose
        // take is already cut short): when it is back, so are the sound and the frame clock.
        auto* watch = new QTimer(this);
        watch->setObjectName(QStringLiteral("timSoundWatch"));
        watch->setInterval(kSoundWatchMs);
        connect(watch, &QTimer::timeout, this, [this, watch, device, clock, tick = 0]() mutable {
            const auto d = device.lock();
            if (!d) {
                watch->stop();
                return;
            }
            if (!d->driver().failed()) {
                // Nothing to hear and no step clock counting: the output may rest.
                d->restWhenQuiet(timBpm->isActive() || timRec->isActive());
                return;
            }
            // What the steps ask of the buffers from now on is applied without a sound.
            d->runWithoutOutput();
            if (soundLost_ && ++tick % kSoundRetryTicks == 0 && !timRec->isActive() &&
                d->restoreOutput()) {
                soundLost_ = false;
                timBpm->setFrameClock(clock);
                timRec->setFrameClock(clock);
                if (!unloaded_)
                    dialogs().message(this, QString::fromLatin1(kSoundBackText),
                                      QStringLiteral("Zembrola"), MsgIcon::Information,
                                      MsgButtons::Ok);
                return;
            }
            if (soundLost_)
                return;
            soundLost_ = true;
            timBpm->setFrameClock({});
            timRec->setFrameClock({});
            if (unloaded_)
                return;  // no window left to say it from
            dialogs().message(this, QString::fromLatin1(kSoundLostText), QStringLiteral("Zembrola"),
                              MsgIcon::Error, MsgButtons::Ok);
        });
        watch->start();
    }
}

void Form1::Form_Unload(int16_t& cancel) {
    exporter().TakeGuard(cancel);
}

void Form1::closeEvent(QCloseEvent* event) {
    int16_t cancel = 0;
    Form_Unload(cancel);
    if (cancel != 0) {
        event->ignore();
        return;
    }
    unloaded_ = true;
    // The step timers belong to the window and go with it: another window open keeps the
    // program running, and nothing would be left to stop the loop. What already sounds
    // plays on to its end.
    timBpm->stop();
    timRec->stop();
    if (session_.mode() == SessionMode::Playing)
        session_.setMode(SessionMode::Idle);
    event->accept();
}

void Form1::ReleaseAllBuffers() {
    for (VoiceState& v : session_.voices) {
        if (!v.mainBuffer)
            continue;
        for (const auto& buffer : {v.mainBuffer, v.subBuffer, v.lowBuffer}) {
            // A loaded voice has all three; the check only guards against a broken slot.
            if (buffer && buffer->GetStatus() == audio::kStatusPlaying)
                buffer->Stop();
        }
        v.mainBuffer.reset();
        v.subBuffer.reset();
        v.lowBuffer.reset();
    }
    // The step clocks go back to the wall clock before the output they follow goes away.
    timBpm->setFrameClock({});
    timRec->setFrameClock({});
    session_.soundDevice.reset();
    session_.soundRoot.reset();
}

void Form1::UnloadOtherWindows() {
    // Closing one window may delete others; hold them by guarded pointers.
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets()) windows.append(w);
    for (const QPointer<QWidget>& w : windows) {
        if (!w || w == this)
            continue;
        // Menus, tool tips and drop-down lists are parts of other windows, not windows.
        const Qt::WindowType type = w->windowType();
        if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::Desktop)
            continue;
        w->close();
    }
    browser().unload();
}

}  // namespace zb
