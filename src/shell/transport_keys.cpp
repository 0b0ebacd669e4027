#include "shell/transport_keys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include "shell/form1.h"

namespace zb {

bool TransportKeys::takesSpace(const QWidget* focused) const {
    if (qobject_cast<const QLineEdit*>(focused) || qobject_cast<const QComboBox*>(focused))
        return true;
    return tabbed_ && qobject_cast<const QAbstractButton*>(focused);
}

TransportKeys::TransportKeys(Form1& window) : window_(window) {
    qApp->installEventFilter(this);
}

bool TransportKeys::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::MouseButtonPress &&
        type != QEvent::MouseButtonDblClick && type != QEvent::FocusIn)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != &window_)
        return false;

    if (type == QEvent::FocusIn) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
            reason == Qt::ShortcutFocusReason) {
            tabbed_ = true;
        } else if (reason != Qt::ActiveWindowFocusReason) {
            tabbed_ = false;
        } else if (!tabbed_ && qobject_cast<QAbstractButton*>(widget)) {
            // The window opened or came back: the system picked a button nobody chose.
            QTimer::singleShot(0, widget, [widget] {
                if (widget->hasFocus())
                    widget->clearFocus();
            });
        }
        return false;
    }

    if (type == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Space || key->modifiers() != Qt::NoModifier ||
            takesSpace(window_.focusWidget()))
            return false;
        // A held key repeats; one press is one play or stop.
        if (!key->isAutoRepeat())
            window_.spacePressed();
        return true;
    }

    // The press gives the focus to the first widget up from the pointer that takes it on a
    // click; when there is none, the focus would stay where the keyboard left it.
    for (QWidget* w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget())
        if (w->isEnabled() && (w->focusPolicy() & Qt::ClickFocus))
            return false;
    if (QWidget* focused = window_.focusWidget())
        focused->clearFocus();
    return false;
}

bool Form1::spacePressed() {
    // Stop first: a sample loaded while the loop runs enables play beside it.
    for (QPushButton* button : {cmdStop, cmdPlay}) {
        if (button->isEnabled()) {
            button->click();
            return true;
        }
    }
    return false;
}

}  // namespace zb
