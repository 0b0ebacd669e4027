#include "support/scripted_dialogs.h"

namespace zb::test {

MsgResult ScriptedDialogs::message(QWidget* parent, const QString& text, const QString& caption,
                                   MsgIcon icon, MsgButtons buttons) {
    MessageRecord record;
    record.text = text;
    record.caption = caption;
    record.icon = icon;
    record.buttons = buttons;
    record.hadParent = parent != nullptr;
    if (!messageAnswers.empty()) {
        record.answer = messageAnswers.front();
        messageAnswers.pop_front();
    } else {
        record.answer = buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::Cancel;
    }
    if (onMessage)
        onMessage(record);
    messages.push_back(record);
    return record.answer;
}

OpenFileResult ScriptedDialogs::openFile(QWidget*, const OpenFileRequest& request) {
    OpenRecord record;
    record.request = request;
    if (!openAnswers.empty()) {
        record.answer = openAnswers.front();
        openAnswers.pop_front();
    } else {
        record.answer.fileName.clear();
        record.answer.filterIndex = request.filterIndex;
    }
    opens.push_back(record);
    return record.answer;
}

QString ScriptedDialogs::saveFile(QWidget*, const QString& title, const QString& filter) {
    SaveRecord record{title, filter, {}};
    if (!saveAnswers.empty()) {
        record.answer = saveAnswers.front();
        saveAnswers.pop_front();
    }
    saves.push_back(record);
    return record.answer;
}

void ScriptedDialogs::clear() {
    messageAnswers.clear();
    openAnswers.clear();
    saveAnswers.clear();
    messages.clear();
    opens.clear();
    saves.clear();
}

}  // namespace zb::test
