#pragma once
// The controller of the "Ask for help" window. The window comes with a later change.

#include <QObject>

namespace wl {

class AskForHelpPanelController final : public QObject {
    Q_OBJECT
public:
    explicit AskForHelpPanelController(QObject* parent = nullptr) : QObject(parent) { }
};

} // namespace wl
