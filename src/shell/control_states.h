// The one place that decides which of the window's controls are enabled: the transport
// strip while the loop plays, stops, and while an export runs, and a voice panel's
// controls while its slot is loaded or empty. Each list of controls is written here once.
//
// Threads: UI thread only.
#pragma once

class QPushButton;
class QString;

namespace zb {

class Form1;

namespace states {

// The property that holds what a button does ("Load voice 1"). Its accessible name is its
// visible caption, then what it does: "+01, Load voice 1".
inline constexpr char kButtonRole[] = "zbButtonRole";
void nameButton(QPushButton* button);
// A new caption, and the accessible name that goes with it.
void setCaption(QPushButton* button, const QString& text);

// The loop runs: only stop stays (play and export wait for it).
void showPlaying(Form1& form);
// The loop stopped: play and export again, stop no more.
void showStopped(Form1& form);

// An export owns the transport: the strip and every voice's tone, pan, volume and pattern
// controls are locked, and the export button says so.
void lockForExport(Form1& form);
// The export ended: the strip and the voices' controls are given back.
void restoreAfterExport(Form1& form);

// Voice i holds a sample: its panel's controls are enabled, and so are the random
// buttons, play and export unless an export runs (it gives them back when it ends).
void voiceLoaded(Form1& form, int i, bool exporting);
// Voice i was emptied: its panel's controls are disabled, and when no slot is named any
// more, the random buttons and play as well.
void voiceCleared(Form1& form, int i, bool noSlotNamed);
// Export follows the last named slot away.
void exportWithoutSlots(Form1& form);

}  // namespace states
}  // namespace zb
