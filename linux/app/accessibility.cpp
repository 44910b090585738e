// What screen readers find in the window beyond what Qt gives each control: the status line as
// the window's status bar, which a screen reader reads on request (Orca's "read the status bar"),
// named by what it says at that moment; each change of its text reaches the screen reader as a
// change of that name, which QLabel announces itself. UI thread only.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

#include "app/main_window.h"

namespace {

const QString StatusLineName = QStringLiteral("statusLine");

class StatusLineAccessible : public QAccessibleWidget {
  public:
    explicit StatusLineAccessible(QWidget* label)
        : QAccessibleWidget(label, QAccessible::StatusBar) {}
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) {
            return static_cast<const QLabel*>(widget())->text();
        }
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* StatusLineInterface(const QString&, QObject* object) {
    auto* label = qobject_cast<QLabel*>(object);
    if (label == nullptr || label->objectName() != StatusLineName) {
        return nullptr;
    }
    return new StatusLineAccessible(label);
}

} // namespace

void MarkStatusLine(QLabel* label) {
    static const bool installed = [] {
        QAccessible::installFactory(StatusLineInterface);
        return true;
    }();
    (void)installed;
    label->setObjectName(StatusLineName);
}
