// A Dialogs double for tests: records every message box and file dialog the program asks
// for, and answers from queues the test fills beforehand.
//
//   ScriptedDialogs dialogs;
//   dialogs.messageAnswers.push_back(MsgResult::No);       // next message box answers No
//   dialogs.openAnswers.push_back({"/tmp/x/kick.wav", 1});  // next open dialog picks a file
//   dialogs.saveAnswers.push_back("/tmp/x/take");            // next save dialog's name
//   ... run the code ...
//   ASSERT_EQ(dialogs.messages.size(), 1u);
//   EXPECT_EQ(dialogs.messages[0].text, "...");
//
// With an empty queue a message box answers Ok (Cancel for Yes/No/Cancel questions), an
// open dialog is cancelled (empty name, filter index unchanged) and a save dialog returns
// an empty name. An optional hook runs inside each message box, while it is "open".
#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "core/dialogs.h"

namespace zb::test {

struct MessageRecord {
    QString text;
    QString caption;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    MsgResult answer = MsgResult::Ok;
    bool hadParent = false;
};

struct SaveRecord {
    QString title;
    QString filter;
    QString answer;
};

struct OpenRecord {
    OpenFileRequest request;
    OpenFileResult answer;
};

class ScriptedDialogs : public Dialogs {
public:
    MsgResult message(QWidget* parent, const QString& text, const QString& caption, MsgIcon icon,
                      MsgButtons buttons) override;
    OpenFileResult openFile(QWidget* parent, const OpenFileRequest& request) override;
    QString saveFile(QWidget* parent, const QString& title, const QString& filter) override;

    // Answers, used front first.
    std::deque<MsgResult> messageAnswers;
    std::deque<OpenFileResult> openAnswers;
    std::deque<QString> saveAnswers;

    // Everything asked, in order.
    std::vector<MessageRecord> messages;
    std::vector<OpenRecord> opens;
    std::vector<SaveRecord> saves;

    // Runs inside each message box before it answers (for example to look at the window
    // state while the box is up). Receives the record about to be stored.
    std::function<void(const MessageRecord&)> onMessage;

    // Number of message boxes, open and save dialogs shown so far.
    size_t requestCount() const { return messages.size() + opens.size() + saves.size(); }
    void clear();
};

}  // namespace zb::test
