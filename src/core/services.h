// What the main window needs from the world outside the program: dialogs, the sound
// system, the capture input, the clock and the folders. The program passes the real ones;
// tests pass doubles only for the true edges (dialogs, hardware, clock).
#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

namespace zb {

class Dialogs;
namespace audio {
class AudioSystem;
}
namespace capture {
class InputSystem;
}

struct Services {
    Dialogs* dialogs = nullptr;
    audio::AudioSystem* audio = nullptr;
    capture::InputSystem* captureInput = nullptr;  // the recording input of the export
    std::function<QDateTime()> now;                // local date and time
    QString programDir;                            // folder of the running executable
    QString dataDir;                               // $XDG_DATA_HOME/zembrola
    QString executablePath;                        // full path of the running executable
};

}  // namespace zb
