#include "platform/linux/QtPrompts.h"

#include "platform/Log.h"
#include "platform/MainThread.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QVBoxLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

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

// Runs fn on the main thread, waiting for its result (the empty result when the
// application is gone).
template <typename Result, typename Fn>
Result onMainThread(Fn fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (QThread::currentThread() == app->thread())
        return fn();
    Result result{};
    std::mutex lock;
    std::condition_variable answered;
    bool done = false;
    // The caller waits below until the work has run: what it refers to outlives it.
    if (!postToMainThread([&] {
            Result answer = fn();
            std::lock_guard guard(lock);
            result = std::move(answer);
            done = true;
            answered.notify_one();
        }))
        return result;
    std::unique_lock guard(lock);
    answered.wait(guard, [&] { return done; });
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

// A button's or checkbox's title as written: "&" is no shortcut mark.
QString buttonTitle(const std::string& text)
{
    return q(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// Every label of a prompt shows its text as it is, never as markup: names and texts
// from other machines go into prompts.
void showLabelsAsPlainText(QWidget& dialog)
{
    for (QLabel* label : dialog.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
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
    AlertRequest plain = request;
    plain.checkbox.clear();
    return alertWithCheckbox(plain).button;
}

AlertAnswer QtPrompts::alertWithCheckbox(const AlertRequest& request)
{
    if (!canShow())
        return {-1, request.checkboxInitial};
    return onMainThread<AlertAnswer>([&]() -> AlertAnswer {
        QMessageBox box;
        QCheckBox* checkbox = nullptr;
        if (!request.checkbox.empty()) {
            checkbox = new QCheckBox(buttonTitle(request.checkbox), &box);
            checkbox->setChecked(request.checkboxInitial);
            box.setCheckBox(checkbox);
        }
        box.setWindowTitle(QApplication::applicationDisplayName());
        box.setTextFormat(Qt::PlainText);
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
            QPushButton* button = box.addButton(buttonTitle(titles[i]), role);
            buttons.push_back(button);
            if (i == 0)
                box.setDefaultButton(button);
            if (titles[i] == "Cancel")
                box.setEscapeButton(button);
        }
        showLabelsAsPlainText(box);
        present(&box, request.floating);
        box.exec();
        AlertAnswer answer{-1, checkbox ? checkbox->isChecked() : request.checkboxInitial};
        QAbstractButton* clicked = box.clickedButton();
        for (std::size_t i = 0; i < buttons.size(); ++i)
            if (buttons[i] == clicked)
                answer.button = static_cast<int>(i);
        return answer;
    });
}

std::optional<std::pair<std::string, std::string>> QtPrompts::askForTwoSecrets(const TwoSecretsRequest& request)
{
    if (!canShow())
        return std::nullopt;
    using Answer = std::optional<std::pair<std::string, std::string>>;
    return onMainThread<Answer>([&]() -> Answer {
        QDialog dialog;
        dialog.setWindowTitle(QApplication::applicationDisplayName());
        auto* layout = new QVBoxLayout(&dialog);
        auto* title = new QLabel(&dialog);
        title->setTextFormat(Qt::PlainText);
        title->setText(q(request.title));
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        title->setObjectName("title");
        layout->addWidget(title);
        auto* text = new QLabel(&dialog);
        text->setTextFormat(Qt::PlainText);
        text->setText(q(request.informativeText));
        text->setWordWrap(true);
        text->setObjectName("informativeText");
        layout->addWidget(text);
        auto field = [&](const std::string& placeholder, const char* name) {
            auto* edit = new QLineEdit(&dialog);
            edit->setEchoMode(QLineEdit::Password);
            edit->setPlaceholderText(q(placeholder));
            edit->setObjectName(name);
            edit->setMinimumWidth(240);
            layout->addWidget(edit);
            return edit;
        };
        QLineEdit* first = field(request.firstPlaceholder, "first");
        QLineEdit* second = field(request.secondPlaceholder, "second");
        auto* buttons = new QDialogButtonBox(&dialog);
        QPushButton* confirm = buttons->addButton(buttonTitle(request.confirmTitle), QDialogButtonBox::AcceptRole);
        buttons->addButton(buttonTitle(request.cancelTitle), QDialogButtonBox::RejectRole);
        confirm->setDefault(true);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        layout->addWidget(buttons);
        first->setFocus();
        present(&dialog, request.floating);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return std::make_pair(first->text().toStdString(), second->text().toStdString());
    });
}

std::optional<std::string> QtPrompts::askForText(const TextRequest& request)
{
    if (!canShow())
        return std::nullopt;
    return onMainThread<std::optional<std::string>>([&]() -> std::optional<std::string> {
        QInputDialog dialog;
        dialog.setInputMode(QInputDialog::TextInput);
        // The question heads the dialog's text; its title bar names the program, as the
        // other prompts' do (a question such as "Reply to Grace's PC" would be cut there).
        dialog.setWindowTitle(QApplication::applicationDisplayName());
        QString label = q(request.title);
        if (!request.informativeText.empty())
            label += QStringLiteral("\n\n") + q(request.informativeText);
        dialog.setLabelText(label);
        dialog.setTextValue(q(request.initialText));
        dialog.setTextEchoMode(request.secure ? QLineEdit::Password : QLineEdit::Normal);
        dialog.setOkButtonText(buttonTitle(request.confirmTitle));
        dialog.setCancelButtonText(buttonTitle(request.cancelTitle));
        showLabelsAsPlainText(dialog);
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
