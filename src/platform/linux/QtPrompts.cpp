#include "platform/linux/QtPrompts.h"

#include "platform/Log.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <atomic>

namespace wl {

namespace {

bool canShow()
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        return true;
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true))
        Log::line("Wickerlane: no application window system; prompts are answered as cancelled");
    return false;
}

// Runs fn on the main thread, waiting for its result.
template <typename Result, typename Fn>
Result onMainThread(Fn fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (QThread::currentThread() == app->thread())
        return fn();
    Result result{};
    QMetaObject::invokeMethod(
        app, [&] { result = fn(); }, Qt::BlockingQueuedConnection);
    return result;
}

void present(QWidget* dialog, bool floating)
{
    if (floating)
        dialog->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    // Modal before it is first shown: a visible window does not take a new modality.
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

QStringList filters(const std::vector<std::string>& nameFilters)
{
    QStringList list;
    for (const auto& f : nameFilters)
        list.append(q(f));
    return list;
}

} // namespace

int QtPrompts::alert(const AlertRequest& request)
{
    if (!canShow())
        return -1;
    return onMainThread<int>([&]() -> int {
        QMessageBox box;
        box.setWindowTitle(QApplication::applicationDisplayName());
        box.setText(q(request.title));
        box.setInformativeText(q(request.informativeText));
        switch (request.style) {
        case AlertRequest::Style::informational: box.setIcon(QMessageBox::Information); break;
        case AlertRequest::Style::warning: box.setIcon(QMessageBox::Warning); break;
        case AlertRequest::Style::critical: box.setIcon(QMessageBox::Critical); break;
        }
        std::vector<std::string> titles = request.buttons.empty() ? std::vector<std::string>{"OK"} : request.buttons;
        std::vector<QAbstractButton*> buttons;
        for (std::size_t i = 0; i < titles.size(); ++i) {
            auto role = i == 0 ? QMessageBox::AcceptRole
                               : (titles[i] == "Cancel" ? QMessageBox::RejectRole : QMessageBox::ActionRole);
            QPushButton* button = box.addButton(q(titles[i]), role);
            buttons.push_back(button);
            if (i == 0)
                box.setDefaultButton(button);
            if (titles[i] == "Cancel")
                box.setEscapeButton(button);
        }
        present(&box, request.floating);
        box.exec();
        QAbstractButton* clicked = box.clickedButton();
        for (std::size_t i = 0; i < buttons.size(); ++i)
            if (buttons[i] == clicked)
                return static_cast<int>(i);
        return -1;
    });
}

std::optional<std::string> QtPrompts::askForText(const TextRequest& request)
{
    if (!canShow())
        return std::nullopt;
    return onMainThread<std::optional<std::string>>([&]() -> std::optional<std::string> {
        QInputDialog dialog;
        dialog.setInputMode(QInputDialog::TextInput);
        dialog.setWindowTitle(q(request.title));
        QString label = q(request.title);
        if (!request.informativeText.empty())
            label += QStringLiteral("\n\n") + q(request.informativeText);
        dialog.setLabelText(label);
        dialog.setTextValue(q(request.initialText));
        dialog.setTextEchoMode(request.secure ? QLineEdit::Password : QLineEdit::Normal);
        dialog.setOkButtonText(q(request.confirmTitle));
        dialog.setCancelButtonText(q(request.cancelTitle));
        present(&dialog, request.floating);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return trimmedText(dialog.textValue().toStdString());
    });
}

std::vector<std::string> QtPrompts::openPanel(const OpenPanelRequest& request)
{
    if (!canShow())
        return {};
    return onMainThread<std::vector<std::string>>([&]() -> std::vector<std::string> {
        QFileDialog dialog(nullptr, q(request.title), q(request.directory));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        if (request.directories) {
            dialog.setFileMode(QFileDialog::Directory);
            dialog.setOption(QFileDialog::ShowDirsOnly, true);
        } else {
            dialog.setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        }
        if (!request.nameFilters.empty())
            dialog.setNameFilters(filters(request.nameFilters));
        present(&dialog, false);
        if (dialog.exec() != QDialog::Accepted)
            return {};
        std::vector<std::string> paths;
        for (const auto& file : dialog.selectedFiles())
            paths.push_back(file.toStdString());
        return paths;
    });
}

std::optional<std::string> QtPrompts::savePanel(const SavePanelRequest& request)
{
    if (!canShow())
        return std::nullopt;
    return onMainThread<std::optional<std::string>>([&]() -> std::optional<std::string> {
        QFileDialog dialog(nullptr, q(request.title), q(request.directory));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (!request.suggestedName.empty())
            dialog.selectFile(q(request.suggestedName));
        if (!request.nameFilters.empty())
            dialog.setNameFilters(filters(request.nameFilters));
        present(&dialog, false);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().front().toStdString();
    });
}

} // namespace wl
