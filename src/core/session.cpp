#include "core/session.h"

#include "audio/sound.h"

namespace zb {

Session::~Session() {
    for (VoiceState& v : voices) {
        v.mainBuffer.reset();
        v.subBuffer.reset();
        v.lowBuffer.reset();
    }
    soundDevice.reset();
    soundRoot.reset();
}

bool Session::anyVoiceLoaded() const {
    for (const VoiceState& v : voices)
        if (v.mainBuffer)
            return true;
    return false;
}

}  // namespace zb
