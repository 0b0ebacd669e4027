// Qt must never see an exception from a slot. The window's handlers run through these.
//
// Threads: UI thread only.
#pragma once

#include <QString>
#include <exception>

#include "audio/sound.h"
#include "core/dialogs.h"
#include "shell/form1.h"

namespace zb {

// A click or an edit: a sound failure ends the action with a message; anything else is
// swallowed, since there is no sensible recovery at this level and the UI has to stay alive.
template <typename F>
void userAction(Form1& form, F&& f) {
    try {
        f();
    } catch (const audio::SoundError& e) {
        form.dialogs().message(
            &form,
            QString("The sound device refused the operation (error 0x%1).")
                .arg(QString::number(e.code(), 16).toUpper().rightJustified(8, QChar('0'))),
            "Zembrola", MsgIcon::Error, MsgButtons::Ok);
    } catch (...) {
    }
}

// A voice panel's change, raised again and again while a slider moves: a failed buffer
// operation ends it without a message.
template <typename F>
void quietAction(F&& f) {
    try {
        f();
    } catch (const std::exception&) {
    }
}

}  // namespace zb
