#pragma once
// Prompts shown with Qt Widgets: QMessageBox, QInputDialog, QFileDialog. Each dialog
// is raised and activated; floating requests stay on top. Called from another
// thread, the dialog runs on the main thread and the caller waits. Without a
// QApplication nothing can be shown: the call logs once and answers as cancelled.

#include "platform/Prompts.h"

namespace wl {

class QtPrompts final : public Prompts {
public:
    int alert(const AlertRequest& request) override;
    AlertAnswer alertWithCheckbox(const AlertRequest& request) override;
    std::optional<std::pair<std::string, std::string>> askForTwoSecrets(const TwoSecretsRequest& request) override;
    std::optional<std::string> askForText(const TextRequest& request) override;
    std::vector<std::string> openPanel(const OpenPanelRequest& request) override;
    std::optional<std::string> savePanel(const SavePanelRequest& request) override;
};

} // namespace wl
