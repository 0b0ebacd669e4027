// The main window: every control of the program's one working surface and the handlers of
// their events. The window builds the widgets and is the only code that touches them; the
// session it shows (voice slots, step counter, sound objects) and the export live below it.
//
// Threads: UI thread only.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

#include "core/services.h"
#include "core/session.h"
#include "core/step_player.h"
#include "core/step_timer.h"
#include "export/exporter.h"
#include "shell/controls.h"

namespace zb {

class Voices;
class Sequencer;
class Randomizer;
class BrowserLauncher;
class StepMarker;
class TransportKeys;

// Told once when the sound output fails while the program runs (the sound server went away).
inline constexpr char kSoundLostText[] =
    "The sound output has stopped: the sound server can no longer be reached.\n"
    "Playing and exporting go on without sound; a take being recorded is kept.";

// Told once when the sound server can be reached again after kSoundLostText.
inline constexpr char kSoundBackText[] =
    "The sound output is back: the sound server can be reached again.\n"
    "Playing and exporting have sound again.";

class Form1 : public QWidget, private ExportWindow {
    Q_OBJECT
public:
    static constexpr int kVoices = Session::kVoices;
    template <typename T>
    using PerVoice = std::array<T*, kVoices>;

    explicit Form1(const Services& services, QWidget* parent = nullptr);
    ~Form1() override;

    // --- Start-up and shutdown ---
    // The whole start-up; runs once before the window is first shown. Returns false when
    // the program must end without showing the window (the sound device failed).
    bool Form_Load();
    // The close step; setting cancel to 1 keeps the window open.
    void Form_Unload(int16_t& cancel);
    void InitSoundDevice();
    void ReleaseAllBuffers();
    void UnloadOtherWindows();
    bool unloaded() const { return unloaded_; }

    // --- Controls, by their names ---
    // Top strip, one row per voice.
    QWidget* Frame1 = nullptr;
    PerVoice<QPushButton> cmdSound{};
    PerVoice<QLabel> lblFile{};
    PerVoice<Waveform> waveform{};
    PerVoice<QPushButton> cmdKill{};
    // Control strip.
    QGroupBox* Frame2 = nullptr;
    QLabel* Label4 = nullptr;
    Slider* SldBPM = nullptr;
    QLineEdit* txtBPM = nullptr;
    QLabel* Label11 = nullptr;
    QCheckBox* ckLoop = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* cmdPlay = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdStartRecord = nullptr;
    QPushButton* Command3 = nullptr;
    // Voice panels.
    PerVoice<QGroupBox> contFrame{};
    PerVoice<QLabel> txtCaption{};
    PerVoice<QLabel> Label1{}, Label2{}, Label3{}, Label5{}, Label6{}, Label7{}, Label8{}, Label9{},
        Label10{};
    PerVoice<Slider> SldFrequency{}, SldPan{}, SldVolume{};
    PerVoice<QLineEdit> txtTone{}, txtPan{}, txtVolume{};
    PerVoice<Selector> cmbNote{}, cmbFreq{}, cmbTone{}, cmbSub{}, cmbSubF{}, cmbLow{};
    // Controls without a visible face.
    // Step clocks with the interface of a periodic timer; slaved to the output's frames
    // when a real sound device runs.
    StepTimer* timBpm = nullptr;
    StepTimer* timRec = nullptr;
    QLabel* blank = nullptr;
    QWidget* Frame6 = nullptr;
    QPushButton* cmdSave = nullptr;

    int mixerHandle = 0;

    // --- The session it shows, and the subsystems ---
    Session& session() { return session_; }
    StepPlayer& stepPlayer() { return player_; }
    const Services& services() const { return services_; }
    Dialogs& dialogs() const { return *services_.dialogs; }
    Voices& voicesCtl() { return *voices_; }
    Sequencer& sequencer() { return *sequencer_; }
    Randomizer& randomizer() { return *randomizer_; }
    Exporter& exporter() { return *exporter_; }
    BrowserLauncher& browser() { return *browser_; }
    StepMarker& stepMarker() { return *marker_; }

    // Space plays and stops from anywhere in the window (see TransportKeys): it presses the
    // enabled one of stop and play, so it keeps their guards. Returns whether it did.
    bool spacePressed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();

    // What the export asks of the window.
    QWidget* dialogParent() override { return this; }
    void lockExportControls() override;
    void restoreIdleControls() override;
    void setExportCaption(const QString& text) override;
    void setSaveEnabled(bool enabled) override;
    void stopPlayback() override;
    void readVoiceSettings() override;
    void unloadOtherWindows() override { UnloadOtherWindows(); }
    void releaseAllBuffers() override { ReleaseAllBuffers(); }
    void stepPlayed(int16_t step, uint8_t voices, int64_t frame) override;

    Services services_;
    Session session_;
    StepPlayer player_{session_};
    bool unloaded_ = false;
    bool soundLost_ = false;  // the sound output failed (the user is told once)
    std::unique_ptr<Voices> voices_;
    std::unique_ptr<Sequencer> sequencer_;
    std::unique_ptr<Randomizer> randomizer_;
    std::unique_ptr<Exporter> exporter_;
    std::unique_ptr<BrowserLauncher> browser_;
    std::unique_ptr<StepMarker> marker_;
    std::unique_ptr<TransportKeys> keys_;
};

}  // namespace zb
