// The keyboard's way to the transport. Space plays and stops from anywhere in the window
// unless the focused control takes Space itself (a text box, a selector's edit field, a
// button or the check box reached with Tab); the panels around the controls, which would
// swallow it, never see it. A press of the pointer on a part of the window that takes no
// focus (a button, a label, the background) takes the focus off the control that held it,
// so that after any pointer action Space reaches the transport again. The focus that the
// system puts on the first button when the window opens is taken off as well.
//
// Threads: UI thread only.
#pragma once

#include <QObject>

class QWidget;

namespace zb {

class Form1;

class TransportKeys : public QObject {
    Q_OBJECT
public:
    // Watches the key and pointer presses on `window` and its children; it must go before
    // the window does.
    explicit TransportKeys(Form1& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Whether the widget with the keyboard focus uses Space itself.
    bool takesSpace(const QWidget* focused) const;

    Form1& window_;
    bool tabbed_ = false;  // the keyboard moved the focus last (Tab, Backtab, a mnemonic)
};

}  // namespace zb
