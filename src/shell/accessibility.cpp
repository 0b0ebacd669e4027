#include "shell/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace zb {
namespace {

QAccessibleInterface* roleFactory(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    // Matched by name: the web page window lives in a module of its own.
    if (className == QLatin1String("zb::Waveform"))
        return new QAccessibleWidget(widget, QAccessible::Graphic);
    if (className == QLatin1String("zb::Form1") || className == QLatin1String("zb::frmBrowser"))
        return new QAccessibleWidget(widget, QAccessible::Window);
    return nullptr;
}

}  // namespace

void installAccessibleRoles() {
    static const bool installed = [] {
        QAccessible::installFactory(roleFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace zb
