// A whole session for the leak check: the main window built offscreen as the program builds
// it, on the offline engine, with samples loaded into every slot, the loop played, a take
// exported and saved, slots cleared and loaded again, and the window closed. Built with
// AddressSanitizer, LeakSanitizer reports at exit whatever was not freed (and the program
// then exits non-zero); scripts/test_sanitizers.sh runs it. It also runs under
// `valgrind --leak-check=full` in a plain build.
#include <sndfile.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <vector>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "export/capture_input.h"
#include "export/exporter.h"
#include "shell/dialogs.h"
#include "shell/form1.h"
#include "shell/sequencer.h"
#include "shell/voices.h"
#include "support/bench_support.h"

namespace {

// Saves take the next name of `saves`; messages are answered with Cancel and counted.
class SessionDialogs : public zb::bench::BenchDialogs {
public:
    SessionDialogs() : BenchDialogs(zb::MsgResult::Cancel) {}
    QString saveFile(QWidget*, const QString&, const QString&) override {
        if (saves.empty())
            return {};
        const QString s = saves.front();
        saves.pop_front();
        return s;
    }
    std::deque<QString> saves;
};

// The recording input: hears what the session renders, as the null sink's monitor would.
class RenderedInput : public zb::capture::InputSystem {
public:
    std::unique_ptr<zb::capture::InputStream> openInput(int, int channels,
                                                        zb::capture::FrameSink& sink) override {
        channels_ = channels;
        return std::make_unique<Stream>(*this, sink);
    }
    void feed(const std::vector<float>& stereo) {
        if (running_ == nullptr || channels_ != 2)
            return;
        std::vector<int16_t> pcm(stereo.size());
        std::transform(stereo.begin(), stereo.end(), pcm.begin(), [](float x) {
            return static_cast<int16_t>(std::lround(std::clamp(x, -1.0f, 1.0f) * 32767.0f));
        });
        running_->write(pcm.data(), static_cast<uint32_t>(pcm.size() / 2));
    }

private:
    class Stream : public zb::capture::InputStream {
    public:
        Stream(RenderedInput& owner, zb::capture::FrameSink& sink) : owner_(owner), sink_(sink) {}
        ~Stream() override { stop(); }
        bool start() override {
            owner_.running_ = &sink_;
            return true;
        }
        void stop() override {
            if (owner_.running_ == &sink_)
                owner_.running_ = nullptr;
        }

    private:
        RenderedInput& owner_;
        zb::capture::FrameSink& sink_;
    };
    zb::capture::FrameSink* running_ = nullptr;
    int channels_ = 2;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("ZEMBROLA_NO_DESKTOP_REFRESH", "1");
    QApplication app(argc, argv);
    QTemporaryDir tmp;
    const QDir root(tmp.path());
    root.mkpath("data/zembrola");
    root.mkpath("program");
    qputenv("XDG_DATA_HOME", root.filePath("data").toLocal8Bit());

    const QString sample = root.filePath("tone.wav");
    std::vector<float> tone(6000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<float>(0.4 * std::sin(i * 0.05));
    if (!zb::bench::writeMonoWav(sample.toStdString(), tone))
        return 2;

    SessionDialogs dialogs;
    zb::audio::OfflineAudioSystem audio;
    RenderedInput input;
    zb::Services services;
    services.dialogs = &dialogs;
    services.audio = &audio;
    services.captureInput = &input;
    services.now = [] { return QDateTime(QDate(2024, 1, 1), QTime(12, 0)); };
    services.programDir = root.filePath("program");
    services.executablePath = root.filePath("program/zembrola");
    services.dataDir = root.filePath("data/zembrola");

    int exports = 0;
    {
        zb::Form1 form(services);
        if (!form.Form_Load())
            return 2;
        zb::audio::OfflineDriver& driver = *audio.driver();
        const auto stepFrames = [&form] { return int64_t{form.timBpm->interval()} * 44100 / 1000; };
        QObject::connect(form.timRec, &zb::StepTimer::timeout,
                         [&] { input.feed(driver.render(stepFrames())); });

        for (int round = 0; round < 3; ++round) {
            // Load every slot (the second round loads over loaded slots).
            for (int v = 0; v < zb::Form1::kVoices; ++v) {
                dialogs.opens.push_back(sample);
                form.cmdSound[v]->click();
            }
            form.SldBPM->setValue(240);
            // Play two loop passes.
            form.ckLoop->setChecked(true);
            form.cmdPlay->click();
            for (int s = 0; s < 64; ++s) {
                form.sequencer().timBpm_Timer();
                driver.render(stepFrames());
                QCoreApplication::processEvents();
            }
            form.cmdStop->click();
            // Export and save the take.
            dialogs.saves.push_back(root.filePath(QString("take %1").arg(round)));
            form.cmdStartRecord->click();
            for (int n = 0; n < 100 && form.timRec->isActive(); ++n)
                QMetaObject::invokeMethod(form.timRec, "timeout", Qt::DirectConnection);
            exports += QFile::exists(root.filePath(QString("take %1.Wav").arg(round))) ? 1 : 0;
            // Clear two slots; the others are loaded over in the next round.
            form.cmdKill[1]->click();
            form.cmdKill[3]->click();
            QCoreApplication::processEvents();
        }
        form.close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!form.unloaded())
            return 3;
    }
    QCoreApplication::processEvents();
    std::printf(
        "leak session: 3 rounds of loading 4 slots, 64 steps played, %d takes exported "
        "and saved, window closed; %d messages\n",
        exports, dialogs.messages);
    return exports == 3 && dialogs.messages == 0 ? 0 : 1;
}
