// wickerlane-gallery FOLDER: renders every window and view of the application shell
// (and the host's and helper's views it hosts) from fixtures to PNG files, so that
// anyone can look at the whole interface at once. It runs under the test desktop
// (scripts/with-test-env) against the real introduction service on loopback; scripts/test
// writes the pictures to build/gallery/. It exits non-zero when a picture could not be
// made.
#include "AppTestKit.h"
#include "PeopleTestKit.h"
#include "HostFakes.h"
#include "PanelTestKit.h"
#include "ServiceProcess.h"
#include "TestDirs.h"

#include "app/AskForHelpView.h"
#include "app/MainWindow.h"
#include "app/PasswordsView.h"
#include "app/SendPasswordView.h"
#include "app/ShellPanel.h"
#include "platform/CaptureExclusion.h"
#include "host/AskForHelpPanelController.h"
#include "mail/PasswordsPanelController.h"
#include "mail/SendPasswordPanelController.h"
#include "app/MenuBarExtra.h"
#include "app/MenuBarIcon.h"
#include "app/PictureWindow.h"
#include "style/Palette.h"
#include "host/GuideOverlayController.h"
#include "host/GuideOverlayView.h"
#include "app/people/DeviceLine.h"
#include "app/people/PicturesSheet.h"
#include "host/HelpRequestCenter.h"
#include "host/HostController.h"
#include "host/HostHandshake.h"
#include "host/HostSession.h"
#include "host/PairedHelpers.h"
#include "host/PairingPanelController.h"
#include "host/SessionBannerController.h"
#include "host/SessionBannerView.h"
#include "host/SuggestionCard.h"
#include "platform/OneShotTimer.h"
#include "platform/ShownText.h"
#include "platform/SystemServices.h"
#include "platform/linux/HostServices.h"
#include "platform/linux/OwnerPasswordDialog.h"
#include "platform/linux/QtPrompts.h"
#include "protocol/Roster.h"
#include "viewer/PairingSheet.h"
#include "viewer/ViewerRootView.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QDir>
#include <QHelpEvent>
#include <QMenu>
#include <QToolTip>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QDialog>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace {

using namespace wl;
using namespace wl::test;

QString folder;
int failures = 0;

void save(const QImage& image, const QString& name)
{
    const QString path = folder + "/" + name + ".png";
    if (image.isNull() || !image.save(path, "PNG")) {
        std::cerr << "gallery: could not make " << path.toStdString() << std::endl;
        ++failures;
        return;
    }
    std::cout << path.toStdString() << std::endl;
}

void shoot(QWidget& widget, const QString& name)
{
    widget.show();
    if (!QTest::qWaitForWindowExposed(&widget))
        std::cerr << "gallery: " << name.toStdString() << " was not shown" << std::endl;
    waitForNextTurn(); // the layout's pass
    save(widget.grab().toImage(), name);
}

void shootMenu(QMenu& menu, const QString& name)
{
    menu.popup(QPoint(10, 10));
    if (!QTest::qWaitForWindowExposed(&menu))
        std::cerr << "gallery: " << name.toStdString() << " was not shown" << std::endl;
    waitForNextTurn(); // the layout's pass
    save(menu.grab().toImage(), name);
    menu.hide();
}

// The menu with the pointer resting on its first item that begins so: the menu and the
// tool tip it shows, in one picture.
void shootMenuToolTip(QMenu& menu, const QString& begins, const QString& name)
{
    menu.popup(QPoint(10, 10));
    if (!QTest::qWaitForWindowExposed(&menu))
        std::cerr << "gallery: " << name.toStdString() << " was not shown" << std::endl;
    waitForNextTurn(); // the layout's pass
    QAction* item = nullptr;
    for (QAction* action : menu.actions())
        if (!item && action->isVisible() && action->text().startsWith(begins))
            item = action;
    const QPoint at = item ? menu.actionGeometry(item).center() : QPoint();
    QHelpEvent rest(QEvent::ToolTip, at, menu.mapToGlobal(at));
    QApplication::sendEvent(&menu, &rest);
    QWidget* tip = nullptr;
    waitUntil([&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->inherits("QTipLabel") && widget->isVisible())
                tip = widget;
        return tip != nullptr;
    });
    waitForNextTurn(); // the tip's layout
    if (!item || !tip) {
        std::cerr << "gallery: no tool tip for " << name.toStdString() << std::endl;
        ++failures;
        menu.hide();
        return;
    }
    const QRect both = menu.geometry().united(tip->geometry());
    QImage image(both.size(), QImage::Format_RGB32);
    image.fill(QColor(52, 101, 164));
    {
        QPainter p(&image);
        p.drawImage(menu.geometry().topLeft() - both.topLeft(), menu.grab().toImage());
        p.drawImage(tip->geometry().topLeft() - both.topLeft(), tip->grab().toImage());
    }
    save(image, name);
    QToolTip::hideText();
    menu.hide();
}

// The alert the program's prompts would show (with its check box, when it has one),
// photographed and dismissed.
void shootAlert(const AlertRequest& request, const QString& name)
{
    QTimer::singleShot(300, [name] {
        if (QWidget* alert = QApplication::activeModalWidget()) {
            save(alert->grab().toImage(), name);
            // A message box without a cancelling button ignores close().
            if (auto* dialog = qobject_cast<QDialog*>(alert))
                dialog->done(0);
            else
                alert->close();
        } else {
            std::cerr << "gallery: no alert for " << name.toStdString() << std::endl;
            ++failures;
        }
    });
    QtPrompts().alertWithCheckbox(request);
}

PairedDevice device(const std::string& name, std::optional<UnattendedGrant> grant = std::nullopt,
                    Date pairedAt = dateNow() - 86400 * 40)
{
    auto key = SigningKey::generate();
    return PairedDevice{fingerprintOfRaw(key.publicKeyRaw()), name, key.publicKeyBase64(), pairedAt, grant, {}};
}

UnattendedGrant grant(bool pin, int wrong)
{
    UnattendedGrant g;
    g.enabledAt = dateNow();
    if (pin) {
        g.pinKey = "a2V5";
        g.pinSalt = "c2FsdA==";
    }
    g.failedAttempts = wrong;
    return g;
}

StoredMessage stored(const std::string& id, const PairedDevice& peer, bool outgoing, MailContent::Kind kind,
                     std::optional<std::string> text, Date at)
{
    StoredMessage m;
    m.id = id;
    m.peerId = peer.id;
    m.peerName = peer.name;
    m.outgoing = outgoing;
    m.content.kind = kind;
    m.content.sentAt = at;
    m.content.text = std::move(text);
    m.at = at;
    return m;
}

// A picture like a screenshot of a desktop with a printer dialog.
QImage desktopPicture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(image.rect(), QColor(52, 101, 164));
    p.fillRect(0, 0, w, 28, QColor(30, 30, 30));
    p.fillRect(w / 6, h / 6, w * 2 / 3, h * 2 / 3, QColor(245, 245, 245));
    p.fillRect(w / 6, h / 6, w * 2 / 3, 30, QColor(210, 210, 210));
    p.setPen(Qt::black);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 16));
    p.drawText(QRect(w / 6 + 20, h / 6 + 50, w / 2, 40), QStringLiteral("Printer \"Office\" is offline"));
    for (int i = 0; i < 6; ++i)
        p.fillRect(w / 6 + 20, h / 6 + 110 + i * 26, (w / 2) * (5 + i % 3) / 8, 10, QColor(120, 120, 120));
    p.fillRect(w * 5 / 6 - 140, h * 5 / 6 - 60, 110, 34, QColor(76, 195, 184));
    p.end();
    return image;
}

void colourSwatches()
{
    struct Named {
        const char* name;
        const QColor& colour;
    };
    const std::vector<Named> colours = {
        {"accent", accent()},
        {"accentFill", accentFill()},
        {"cardFill", cardFill()},
        {"askingAccent", askingAccent()},
        {"askingFill", askingFill()},
        {"peopleBackground", peopleBackground()},
        {"peopleDeepFill", peopleDeepFill()},
    };
    QImage image(560, int(colours.size()) * 44 + 16, QImage::Format_RGB32);
    image.fill(QColor(30, 31, 35));
    QPainter p(&image);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 11));
    int y = 8;
    for (const auto& c : colours) {
        p.fillRect(QRect(12, y, 120, 36), c.colour);
        p.setPen(QColor(90, 92, 98));
        p.drawRect(QRect(12, y, 120, 36));
        p.setPen(QColor(232, 233, 235));
        p.drawText(QRect(148, y, 400, 36), Qt::AlignVCenter,
                   QStringLiteral("%1   %2").arg(QString::fromLatin1(c.name), c.colour.name().toUpper()));
        y += 44;
    }
    p.end();
    save(image, QStringLiteral("colours"));
}

void trayIcons()
{
    using State = MenuBarIcon::State;
    const std::vector<State> states = {State::ready, State::helpRequested, State::inSession, State::attention,
                                       State::off};
    QImage image(5 * 120 + 20, 130, QImage::Format_RGB32);
    image.fill(QColor(30, 31, 35));
    QPainter p(&image);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
    for (int i = 0; i < 5; ++i) {
        const int x = 20 + i * 120;
        // On a panel, at 1x and at 2x, with the description (the tool tip) below.
        p.fillRect(QRect(x - 6, 10, 100, 52), QColor(18, 18, 20));
        p.drawImage(QPoint(x, 26), MenuBarIcon::render(states[i], 1, MenuBarIcon::panelColour()));
        p.drawImage(QPoint(x + 36, 18), MenuBarIcon::render(states[i], 2, MenuBarIcon::panelColour()));
        p.setPen(QColor(232, 233, 235));
        p.drawText(QRect(x - 6, 70, 110, 50), Qt::TextWordWrap,
                   QString::fromStdString(MenuBarIcon::description(states[i])));
    }
    p.end();
    save(image, QStringLiteral("tray-icons"));
}

// The picture windows' questions (none is asked while they are photographed).
Prompts& galleryPrompts()
{
    static ScriptedPrompts prompts;
    return prompts;
}

// ---- the ask-for-help and password windows, from fixtures ----

QImage photo(int w, int h, int seed)
{
    QImage image = desktopPicture(w, h);
    QPainter p(&image);
    p.fillRect(QRect(w / 5, h / 4, w / 2, h / 2), QColor::fromHsv((seed * 70) % 360, 160, 220));
    return image;
}

// Drops the ask-for-help panel and waits until it is gone: its view follows the centre.
void dropPanel(AskForHelpPanelController& controller)
{
    QPointer<QWidget> gone = dynamic_cast<QWidget*>(controller.panel());
    controller.close();
    if (!waitUntil([&] { return gone.isNull(); }))
        std::cerr << "gallery: the ask-for-help panel stayed" << std::endl;
}

void clickNamed(QWidget* root, const char* name)
{
    if (auto* button = root->findChild<QAbstractButton*>(QString::fromLatin1(name)))
        QTest::mouseClick(button, Qt::LeftButton);
    else
        std::cerr << "gallery: no " << name << std::endl;
}

void typeNamed(QWidget* root, const char* name, const QString& text)
{
    if (auto* field = root->findChild<QLineEdit*>(QString::fromLatin1(name)))
        field->setText(text);
    else if (auto* note = root->findChild<QPlainTextEdit*>(QString::fromLatin1(name)))
        note->setPlainText(text);
}

void smallWindows(const std::string& silentServiceURL)
{
    // The help request centres keep their open requests' pictures in a folder of the
    // gallery's own, and start without one.
    TempDir requestPictures;
    int centres = 0;
    auto requestOptions = [&] {
        HelpRequestCenter::Options options;
        options.prompts = &galleryPrompts();
        options.defaults = std::make_shared<MemoryDefaults>();
        options.picturesFolder = requestPictures.path() / std::to_string(++centres);
        return options;
    };
    const Date T = dateNow();
    Computer ada{"Ada Lovelace"};
    Computer bo{"Bo Diddley"};
    std::vector<PairedDevice> helpers{ada.record(), bo.record()};

    // Ask for help.
    {
        Installation here;
        here.frozen = false;
        here.contacts = helpers;
        here.make({}, silentServiceURL);
        AskForHelpPanelController controller;
        installShellPanels(*here.passwords, controller, std::make_shared<CaptureExclusion>(), qtTimerFactory());
        HelpRequestCenter center(
            *here.messenger, [&] { return helpers; }, requestOptions());
        controller.show(center);
        auto* panel = dynamic_cast<ShellPanel*>(controller.panel());
        auto* view = qobject_cast<AskForHelpView*>(panel->view());
        shoot(*panel, QStringLiteral("ask-for-help-compose"));

        clickNamed(view, "topic.password");
        typeNamed(view, "noteField", QStringLiteral("The bank wants a new password and I don't know which one"));
        center.addPicture(photo(1280, 800, 1), "Screenshot 9.41");
        center.addPicture(photo(800, 1000, 2), "Letter");
        shoot(*panel, QStringLiteral("ask-for-help-compose-password-topic-two-pictures"));

        center.addPicture(photo(640, 480, 3), "Router");
        QMimeData images;
        images.setImageData(photo(100, 100, 4));
        QDragEnterEvent enter(QPoint(40, 40), Qt::CopyAction, &images, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &enter);
        shoot(*panel, QStringLiteral("ask-for-help-compose-three-pictures-dragging"));
        QDragLeaveEvent leave;
        QApplication::sendEvent(view, &leave);

        clickNamed(view, "sendButton");
        shoot(*panel, QStringLiteral("ask-for-help-compose-sending"));
        dropPanel(controller);

        std::vector<PairedDevice> none;
        HelpRequestCenter lonely(
            *here.messenger, [&] { return none; }, requestOptions());
        controller.show(lonely);
        panel = dynamic_cast<ShellPanel*>(controller.panel());
        clickNamed(panel->view(), "sendButton");
        shoot(*panel, QStringLiteral("ask-for-help-compose-no-helpers"));
        dropPanel(controller);
    }
    {
        auto answer = [&](const std::string& id, const std::string& text, Date at) {
            StoredMessage m;
            m.id = id;
            m.peerId = ada.id();
            m.peerName = "Ada Lovelace";
            m.content.kind = MailContent::Kind::reply;
            m.content.replyTo = "h1";
            m.content.text = text;
            m.content.sentAt = at;
            m.at = at;
            return m;
        };
        Installation here;
        here.frozen = false;
        here.contacts = helpers;
        auto locked = here.receivedPassword(ada, "p1", "Wi-Fi", "oneHour", T + 3000, "x", T - 100);
        locked.content.replyTo = "h1";
        locked.peerName = "Ada Lovelace";
        auto used = here.receivedPassword(bo, "p2", std::nullopt, "once", T + 300, "x", T - 50);
        used.content.replyTo = "h2";
        used.peerName = "Bo Diddley";
        used.sealed.reset();
        // A reply of 2,000 characters, an address among them, beside a password reply: the
        // window grows to the screen's height and scrolls to the rest.
        std::string longReply = "I'll look at it at six. Until then, see "
                                "https://support.example.com/printers/offline-but-the-light-is-green";
        while (longReply.size() < 2000)
            longReply += ", and if the light is still green we'll try the other cable, then the driver";
        longReply.resize(1996);
        longReply += " Ada";
        for (int shape : {0, 1, 2}) {
            const bool withReplies = shape > 0;
            std::vector<StoredMessage> history;
            if (shape == 1)
                history = {answer("y1", "I'll look at it at six", T - 300), locked, used};
            if (shape == 2)
                history = {answer("y1", longReply, T - 300), locked};
            here.make(history, silentServiceURL);
            AskForHelpPanelController controller;
            installShellPanels(*here.passwords, controller, std::make_shared<CaptureExclusion>(), qtTimerFactory());
            HelpRequestCenter center(
                *here.messenger, [&] { return helpers; }, requestOptions());
            center.setActive({{{ada.id(), "h1"}, {bo.id(), "h2"}},
                              {"Ada Lovelace", "Bo Diddley"},
                              "Printer",
                              "It says it's offline, but the light is green",
                              T - 900,
                              withReplies ? 1 : 2},
                             {});
            controller.show(center);
            auto* panel = dynamic_cast<ShellPanel*>(controller.panel());
            if (shape < 2) {
                shoot(*panel,
                      withReplies ? QStringLiteral("ask-for-help-sent-with-replies")
                                  : QStringLiteral("ask-for-help-sent-waiting"));
            } else {
                shoot(*panel, QStringLiteral("ask-for-help-sent-long-reply"));
                auto* scroller = panel->findChild<QScrollArea*>();
                if (scroller && scroller->verticalScrollBar()->isVisible()) {
                    scroller->verticalScrollBar()->setValue(scroller->verticalScrollBar()->maximum());
                    shoot(*panel, QStringLiteral("ask-for-help-sent-long-reply-end"));
                } else {
                    std::cerr << "gallery: the long reply does not scroll" << std::endl;
                    ++failures;
                }
            }
            dropPanel(controller);
        }
    }

    // Send a password.
    {
        Installation here;
        here.frozen = false;
        here.contacts = helpers;
        here.make({}, silentServiceURL);
        AskForHelpPanelController controller;
        installShellPanels(*here.passwords, controller, std::make_shared<CaptureExclusion>(), qtTimerFactory());
        here.passwords->composer().show(ada.record());
        auto* window = dynamic_cast<SendPasswordPanel*>(here.passwords->composer().panel());
        shoot(*window->window(), QStringLiteral("send-password-empty"));

        StoredMessage request;
        request.id = "h1";
        request.content.kind = MailContent::Kind::helpRequest;
        request.content.text = "Can you send me the Wi-Fi password for the guest network?";
        here.passwords->composer().show(ada.record(), request);
        typeNamed(window->form(), "labelField", QStringLiteral("Guest Wi-Fi"));
        typeNamed(window->form(), "secretField", QStringLiteral("correct horse battery"));
        clickNamed(window->form(), "eyeButton");
        clickNamed(window->form(), "lifetime.oneHour");
        shoot(*window->window(), QStringLiteral("send-password-answering-shown-one-hour"));

        window->form()->sendErrorText(Messenger::SendError::refused(429));
        shoot(*window->window(), QStringLiteral("send-password-failed"));
        clickNamed(window->form(), "sendButton");
        shoot(*window->window(), QStringLiteral("send-password-sending"));
        window->orderOut();
    }

    // Passwords.
    {
        Installation here;
        here.contacts = helpers;
        here.now = T;
        here.make({}, silentServiceURL);
        AskForHelpPanelController controller;
        installShellPanels(*here.passwords, controller, std::make_shared<CaptureExclusion>(), qtTimerFactory());
        here.passwords->panel().show();
        auto* panel = dynamic_cast<ShellPanel*>(here.passwords->panel().panel());
        shoot(*panel, QStringLiteral("passwords-empty"));
        panel->hide();

        auto receipt = Installation::receipt;
        std::vector<StoredMessage> history = {
            here.receivedPassword(ada, "r1", "Wi-Fi", "once", T + 900, "correct horse", T - 10),
            here.receivedPassword(bo, "r2", std::nullopt, "oneHour", T + 2400, "open sesame", T - 1000),
            here.receivedPassword(ada, "r3", "Bank", "fifteenMinutes", T + 45, "1234 5678", T - 855),
            Installation::sentPassword(ada, "s1", "Router", "fifteenMinutes", T + 700, T - 200),
            Installation::sentPassword(bo, "s2", "Door code", "once", T + 800, T - 100),
            Installation::sentPassword(ada, "s3", std::nullopt, "oneHour", T + 3500, T - 100),
            Installation::sentPassword(bo, "s4", "Old", "fifteenMinutes", T - 10, T - 910),
            receipt(ada, "k1", "s1", "delivered", T - 190),
            receipt(bo, "k2", "s2", "opened", T - 90),
        };
        here.make(history, silentServiceURL);
        installShellPanels(*here.passwords, controller, std::make_shared<CaptureExclusion>(), qtTimerFactory());
        here.passwords->panel().show();
        panel = dynamic_cast<ShellPanel*>(here.passwords->panel().panel());
        auto* view = qobject_cast<PasswordsView*>(panel->view());
        view->setCopyTimers([](std::chrono::milliseconds, std::function<void()>) { return nullptr; });
        here.ownerCheck.answer(true);
        here.ownerCheck.answer(true);
        here.ownerCheck.answer(false);
        clickNamed(view->card("r1"), "showButton");
        waitUntil([&] { return view->card("r1")->isRevealed(); });
        clickNamed(view->card("r2"), "copyButton");
        waitUntil([&] { return view->card("r2")->findChild<QLabel*>("copiedNote")->isVisible(); });
        clickNamed(view->card("r3"), "copyButton");
        waitUntil([&] { return view->card("r3")->problem().has_value(); });
        here.now = T + 2;
        view->tick();
        shoot(*panel, QStringLiteral("passwords-cards-and-sent-rows"));
        here.now = T + 50;
        view->tick();
        shoot(*panel, QStringLiteral("passwords-later-hidden-and-expired"));
        panel->hide();

        // The sent rows alone, with one card.
        here.make({history[1], history[3], history[4], history[5], history[6], history[7], history[8]},
                  silentServiceURL);
        installShellPanels(*here.passwords, controller, std::make_shared<CaptureExclusion>(), qtTimerFactory());
        here.passwords->panel().show();
        panel = dynamic_cast<ShellPanel*>(here.passwords->panel().panel());
        shoot(*panel, QStringLiteral("passwords-one-card-and-sent-rows"));
        panel->hide();

        for (int i = 0; i < 6; ++i)
            history.push_back(here.receivedPassword(bo, "x" + std::to_string(i), "Key " + std::to_string(i),
                                                    "fifteenMinutes", T + 600, "x", T));
        here.make(history, silentServiceURL);
        installShellPanels(*here.passwords, controller, std::make_shared<CaptureExclusion>(), qtTimerFactory());
        here.passwords->panel().show();
        panel = dynamic_cast<ShellPanel*>(here.passwords->panel().panel());
        shoot(*panel, QStringLiteral("passwords-scrolling"));
        panel->hide();
    }
    QGuiApplication::clipboard()->clear();

    // The owner check's password dialog, as asked and after a wrong password.
    {
        OwnerPasswordDialog dialog("show the Wi-Fi password from Anna");
        shoot(dialog, QStringLiteral("owner-check"));
        dialog.showWrongPassword();
        shoot(dialog, QStringLiteral("owner-check-wrong-password"));
    }
}

// What the host's user sees while helped: the guide overlay (pointer with name tag and a
// suggested click with its card) over a desktop, the card alone, and the session banner
// in each of its states, each banner also over the desktop's top-right corner.
void guideAndBanner()
{
    const QSize screen(1280, 800);
    const QRect visible(0, 28, screen.width(), screen.height() - 28);
    GuideModel model;
    model.helperName = "Ada";
    model.pointer = GuideModel::Point{0.3, 0.4};
    model.suggestions = {{1, {0.62, 0.55}}};
    GuideOverlayView overlay(model);
    overlay.setAttribute(Qt::WA_TranslucentBackground);
    overlay.resize(screen);
    overlay.refresh(model);
    SuggestionCard card("Ada", {});
    card.adjustSize();
    shoot(card, QStringLiteral("host-suggestion-card"));
    // A name from the other machine with markup and a direction override, shown as written.
    SuggestionCard marked("<b>Ada</b>\u202E", {});
    marked.adjustSize();
    shoot(marked, QStringLiteral("host-suggestion-card-markup-name"));

    QImage picture = desktopPicture(screen.width(), screen.height());
    {
        QPainter p(&picture);
        overlay.render(&p, QPoint(), QRegion(), QWidget::DrawChildren);
        const QPointF point(0.62 * screen.width(), 0.55 * screen.height());
        card.render(&p, GuideOverlayController::cardOrigin(point, card.size(), visible), QRegion(),
                    QWidget::DrawChildren);
    }
    save(picture, QStringLiteral("host-guide-overlay"));

    struct BannerCase {
        const char* name;
        SessionBannerModel model;
    };
    const BannerCase cases[] = {
        {"guide", {"Ada", HelpMode::guide, false, false, false, false}},
        {"clicks-go-through", {"Ada", HelpMode::guide, false, true, true, true}},
        {"control", {"Ada", HelpMode::control, false, false, false, true}},
        {"control-you-have-the-mouse", {"Ada", HelpMode::control, true, false, true, false}},
    };
    auto shown = [](SessionBannerView& banner) {
        banner.setAttribute(Qt::WA_TranslucentBackground);
        banner.adjustSize();
        banner.show();
        if (!QTest::qWaitForWindowExposed(&banner))
            std::cerr << "gallery: the banner was not shown" << std::endl;
        waitForNextTurn(); // the layout's pass
        banner.adjustSize();
    };
    for (const auto& c : cases) {
        SessionBannerView banner(c.model, {});
        shown(banner);
        const int cropWidth = std::min(screen.width(), banner.width() + 48);
        QImage over =
            desktopPicture(screen.width(), screen.height()).copy(screen.width() - cropWidth, 0, cropWidth, 110);
        {
            QPainter p(&over);
            const QPoint at = SessionBannerController::placement(banner.size(), visible);
            banner.render(&p, at - QPoint(screen.width() - cropWidth, 0), QRegion(), QWidget::DrawChildren);
        }
        save(over, QStringLiteral("host-banner-") + c.name);
    }

    // The banner beside a tray: the top panel reserves no room (the available area is the
    // whole screen) and has the program's icon at its right end; the banner keeps clear.
    {
        SessionBannerView banner(cases[0].model, {});
        shown(banner);
        QImage desk = desktopPicture(screen.width(), screen.height());
        const QImage icon = MenuBarIcon::render(MenuBarIcon::State::inSession, 1, MenuBarIcon::panelColour());
        const QRect tray(QPoint(screen.width() - 6 - icon.width(), (28 - icon.height()) / 2), icon.size());
        const int cropWidth = std::min(screen.width(), banner.width() + 80);
        {
            QPainter p(&desk);
            p.drawImage(tray.topLeft(), icon);
            const QPoint at = SessionBannerController::placement(banner.size(), QRect(QPoint(), screen), tray);
            banner.render(&p, at, QRegion(), QWidget::DrawChildren);
        }
        save(desk.copy(screen.width() - cropWidth, 0, cropWidth, 130), QStringLiteral("host-banner-beside-a-tray"));
    }
}

std::string jpegOf(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes.toStdString();
}

// The helper's list of people in its states, over the real viewer controller with a
// history and presence given here.
void peopleGallery()
{
    using K = MailContent::Kind;
    {
        PeopleRig rig;
        rig.make({});
        shoot(*rig.view, QStringLiteral("people-no-one-paired"));
    }

    auto mom = host("Mom's iMac", "Mom");
    auto momLaptop = host("Mom's MacBook Air", "Mom");
    auto ann = host("Ann's iMac", "Ann Lee");
    auto work = host("Work laptop");
    auto cabin = host("Cabin mini", "Dad");
    auto study = host("Study iMac");
    {
        PeopleRig rig;
        const Date now = rig.now;
        auto password = helpRequest("hm", mom, now - 240, "A password", "For the bank's website, please", 2);
        // A reply longer than its line: it ends in "…".
        auto reply = mail("y1", mom, K::reply, now - 200, true,
                          "On my way. Leave the computer on and don't type anything on the bank's page until I'm "
                          "there, about twenty minutes");
        reply.content.replyTo = "hm";
        auto sent = mail("p1", mom, K::password, now - 180, true);
        sent.content.replyTo = "hm";
        sent.content.label = "Bank";
        sent.content.expiresAt = now + 3000;
        auto receipt = mail("r1", mom, K::receipt, now - 100, false, "opened");
        receipt.content.replyTo = "p1";
        auto received = mail("in", work, K::password, now - 30);
        received.sealed = MailEnvelope{};
        received.content.expiresAt = now + 3000;
        rig.history({
            mail("m1", work, K::message, now - 7200, false, "Did the update work?"),
            mail("m2", work, K::message, now - 7100, true, "Yes, all good. Thanks!"),
            helpRequest("ha", ann, now - 40, "Printer",
                        "The printer says it's offline, but it's on and the light is green. I tried turning it off "
                        "and on again.",
                        1),
            password,
            reply,
            sent,
            receipt,
            received,
            mail("m3", ann, K::message, now - 20, false, "Are you there?"),
        });
        rig.roster({study});
        rig.answers.replies["hm"] = {reply};
        rig.make({mom, momLaptop, ann, work, cabin, study});
        rig.online({mom, momLaptop, work, study});
        rig.controller().hosts().setKnownUnattended({study.id});
        rig.controller().hosts().setNotifyWhenOnline({cabin.id});
        rig.view->setExpanded("My Macs", true);
        rig.view->setExpanded("Work laptop", true);
        rig.view->setExpanded("Dad", true);
        rig.view->resize(760, 1500);
        shoot(*rig.view, QStringLiteral("people-two-asking"));
        rig.view->setExpanded("Mom", true);
        rig.answers.fetching = {"ha"};
        rig.view->refresh();
        // The card opens over a short animation.
        if (!waitUntil([&] { return rig.card("Mom") && !rig.card("Mom")->findChild<QVariantAnimation*>(); }))
            std::cerr << "gallery: Mom's card kept opening" << std::endl;
        shoot(*rig.view, QStringLiteral("people-two-asking-expanded-fetching"));
        if (auto* line = static_cast<DeviceLine*>(rig.line(work)))
            shootMenu(*line->makeMenu(), QStringLiteral("people-device-menu"));
        if (auto* line = static_cast<DeviceLine*>(rig.line(study)))
            shootMenu(*line->makeMenu(), QStringLiteral("people-device-menu-my-macs"));

        rig.answers.fetching.clear();
        const TransferredFile smallOne{"3", "A small one", "image/jpeg", jpegOf(desktopPicture(320, 200))};
        rig.answers.setPictures("hm",
                                {{"1", "Screenshot 9.41", "image/jpeg", jpegOf(desktopPicture(1440, 900))},
                                 {"2", "The bank's page", "image/jpeg", jpegOf(desktopPicture(900, 1200))},
                                 smallOne,
                                 {"4", "Not a picture", "image/jpeg", "not a picture"}});
        rig.answers.showPictures(password);
        if (PicturesSheet* sheet = rig.view->picturesSheet()) {
            shoot(*sheet, QStringLiteral("pictures-sheet"));
            // Further down, a picture smaller than the tile, drawn across its width.
            auto* list = sheet->findChild<QScrollArea*>(QStringLiteral("sheetPictures"));
            QSize smallShown;
            for (auto* tile : sheet->findChildren<QWidget*>(QStringLiteral("pictureTile")))
                if (list && tile->property("fileId").toString() == QStringLiteral("3")) {
                    list->ensureWidgetVisible(tile, 0, 0);
                    if (auto* drawn = tile->findChild<QWidget*>(QStringLiteral("pictureButton")))
                        smallShown = drawn->size();
                }
            shoot(*sheet, QStringLiteral("pictures-sheet-small-picture"));
            // Opened larger, as large as the sheet drew it at least.
            if (auto* larger = PictureWindowController::show(smallOne, pictureWindowTitle(password, smallOne),
                                                             galleryPrompts(), smallShown)) {
                shoot(*larger, QStringLiteral("picture-window-small-picture-opened-larger"));
                larger->close();
            } else {
                ++failures;
            }
            sheet->accept();
        } else {
            std::cerr << "gallery: no pictures sheet" << std::endl;
            ++failures;
        }
        if (!waitUntil([&] { return rig.view->picturesSheet() == nullptr; }))
            std::cerr << "gallery: the pictures sheet stayed" << std::endl;
    }
    {
        // Nobody reachable: one asks from a Mac that went offline, one is watched.
        PeopleRig rig;
        rig.history({helpRequest("hw", work, rig.now - 900, "Wi-Fi or internet", "No internet since this morning")});
        rig.make({mom, momLaptop, work, cabin});
        rig.controller().hosts().setNotifyWhenOnline({cabin.id});
        rig.view->setExpanded("Mom", true);
        rig.view->setExpanded("Dad", true);
        rig.view->resize(760, 900);
        shoot(*rig.view, QStringLiteral("people-unreachable"));
    }
    {
        // A live session with Mom's iMac: the main window's session face over a real
        // peer (WebRTC on 127.0.0.1 only, its offer going nowhere), and the list of people
        // as it stands meanwhile: the request the session answers is resolved.
        PeopleRig rig;
        rig.viewer.defaults->setBool("WLLoopbackOnly", true);
        rig.viewer.defaults->setStringList("WLSTUNServers", {});
        rig.viewer.makesPeers = true;
        FakeHost fake("Mom's iMac");
        auto record = fake.record();
        record.person = "Mom";
        rig.history({helpRequest("hm", record, rig.now - 300, "Email", "I can't send mail"),
                     helpRequest("hw", work, rig.now - 120, "Printer")});
        rig.make({record, work, cabin});
        rig.online({record, work});
        auto* people = rig.view.release();
        ViewerRootView root(rig.controller(), people);
        root.resize(760, 640);
        rig.controller().session().connect(record, false);
        rig.viewer.transport().deliver(fake.challenge(rig.viewer.helperNonce()));
        rig.viewer.transport().deliver(SignalMessage::make(SignalMessage::Kind::accepted));
        // A status line as long as they come, at the main window's default width.
        rig.controller().session().setConnectionInfo(
            "Connected \u00b7 30 fps \u00b7 H265 \u00b7 52480 KB in \u00b7 8912 decoded \u00b7 Relayed (by the other Mac)");
        shoot(root, QStringLiteral("people-live-session"));
        // The list behind the session face (which waits while hidden), drawn as it is now.
        people->resize(root.size());
        people->refresh();
        save(people->grab().toImage(), QStringLiteral("people-during-a-session"));
        rig.controller().session().end();
        rig.controller().backToDevices();
        shoot(root, QStringLiteral("people-after-session"));
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    applyDarkStyle(app);
    folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("gallery");
    QDir().mkpath(folder);

    trayIcons();
    colourSwatches();
    guideAndBanner();
    peopleGallery();

    ServiceProcess service;
    if (!service.start()) {
        std::cerr << "gallery: the introduction service did not start\n" << service.log() << std::endl;
        return 1;
    }

    // ---- a computer with helpers, a roster, mail and an open help request ----
    AppRig rig;
    rig.platform.info = std::make_shared<MapInfoDictionary>(
        std::map<std::string, std::string>{{InfoKey::introductionURL, service.httpUrl() + "/"},
                                           {InfoKey::feedURL, "https://updates.wickerlane.invalid/appcast.xml"},
                                           {InfoKey::publicEDKey, "a2V5"}});
    rig.defaults->setStringList("WLSTUNServers", {});
    auto permissions = std::make_shared<SwitchablePermissions>();
    rig.platform.permissions = permissions;
    auto ada = device("Ada Lovelace");
    auto bo = device("Bo Diddley", grant(true, 1));
    auto cy = device("Cy Twombly", grant(false, 5));
    auto study = device("Study iMac", grant(false, 0));
    rig.pairHelpers({ada, bo, cy, study});
    auto mom = device("Mom's iMac");
    mom.person = "Mom";
    auto work = device("Work laptop");
    rig.pairHosts({mom, work, study});
    auto person = SigningKey::generate();
    rig.defaults->setData(
        MyMacs::kRosterKey,
        SignedRoster::sign({person.publicKeyBase64(), 2, {{study.id, study.publicKey, study.name}}}, person).encode());
    const Date now = dateNow();
    using K = MailContent::Kind;
    auto request = stored("h1", ada, true, K::helpRequest, "The printer says it's offline", now - 900);
    request.content.topic = "Printer";
    auto reply = stored("y1", ada, false, K::reply, "I'll look at it at six", now - 300);
    reply.content.replyTo = "h1";
    auto password = stored("p1", bo, false, K::password, std::nullopt, now - 200);
    password.content.label = "the Wi-Fi";
    password.sealed = MailEnvelope{};
    password.content.expiresAt = now + 3000;
    auto sentPassword = stored("p2", ada, true, K::password, std::nullopt, now - 100);
    sentPassword.content.label = "the router";
    rig.defaults->setData("WLMessages",
                          StoredMessage::encodeList({
                              stored("m1", bo, false, K::message, "Did the update work?", now - 4000),
                              stored("m2", bo, true, K::message, "Yes, all good. Thanks!", now - 3900),
                              request,
                              reply,
                              password,
                              sentPassword,
                          }));
    rig.defaults->setBool("WLAcceptHelpRequests", true);
    if (!rig.start())
        return 1;
    rig.app->host()->helpRequests().setActive(
        {{{ada.id, "h1"}}, {"Ada Lovelace"}, "Printer", "The printer says it's offline", now - 900, 1}, {});
    waitUntil([&] { return rig.app->host()->isOnline(); }, 10000);
    MenuBarExtra& extra = *rig.app->menuBarExtra();
    extra.menu().refresh();
    QMenu& menu = *extra.menu().menu();
    shootMenu(menu, QStringLiteral("host-menu"));
    // A reply far longer than a menu is wide ends in "…"; where the pointer rests on it, the
    // tool tip says it whole.
    std::string longReply = "I'll look at it at six";
    while (longReply.size() < 600)
        longReply += ", and if the light is still green we'll try the other cable and then the driver";
    rig.app->services()->messenger->updateMessage("y1", [&](StoredMessage& m) { m.content.text = longReply; });
    extra.menu().refresh();
    shootMenu(menu, QStringLiteral("host-menu-long-reply"));
    shootMenuToolTip(menu, QStringLiteral("Ada Lovelace: \u201C"), QStringLiteral("host-menu-long-reply-tool-tip"));
    rig.app->services()->messenger->updateMessage("y1",
                                                  [&](StoredMessage& m) { m.content.text = "I'll look at it at six"; });
    extra.menu().refresh();
    for (QAction* action : menu.actions()) {
        if (QMenu* submenu = action->menu(); submenu && action->isVisible()) {
            QString name = action->text().section(QStringLiteral(" \u00B7"), 0, 0).toLower();
            name.replace(QLatin1Char(' '), QLatin1Char('-')).remove(QLatin1Char('\''));
            shootMenu(*submenu, QStringLiteral("host-menu-") + name);
        }
    }

    // Help requests off, without Screen Recording, no request open.
    rig.app->host()->helpRequests().clearActive();
    rig.app->host()->setAcceptingHelpRequests(false);
    permissions->recordScreen = false;
    rig.app->host()->checkPermissions();
    extra.menu().refresh();
    shootMenu(menu, QStringLiteral("host-menu-off-no-screen-recording"));
    permissions->recordScreen = true;
    permissions->control = false;
    rig.app->host()->checkPermissions();
    extra.menu().refresh();
    shootMenu(menu, QStringLiteral("host-menu-no-accessibility"));
    permissions->control = true;
    rig.app->host()->checkPermissions();

    // ---- the main window and the viewer's faces ----
    rig.app->openMainWindow();
    MainWindow& window = *rig.app->mainWindow();
    shoot(window, QStringLiteral("main-window-browsing"));
    window.peopleView()->showPairingSheet();
    if (PairingSheet* sheet = window.peopleView()->pairingSheet()) {
        shoot(*sheet, QStringLiteral("pairing-sheet"));
        sheet->reject();
    }
    if (!waitUntil([&] { return window.peopleView()->pairingSheet() == nullptr; }))
        std::cerr << "gallery: the pairing sheet stayed" << std::endl;
    rig.app->viewer()->session().connect(work, false);
    shoot(window, QStringLiteral("main-window-waiting"));
    SignalMessage declined = SignalMessage::make(SignalMessage::Kind::declined);
    declined.reason = "notNow";
    if (!rig.transports.empty())
        rig.transports.back()->deliver(declined);
    shoot(window, QStringLiteral("main-window-message"));
    rig.app->viewer()->backToDevices();

    // ---- the host's pairing panel ----
    rig.app->host()->pairedHelpers().startPairing();
    if (QWidget* panel = rig.app->host()->pairedHelpers().pairingPanel().panel())
        shoot(*panel, QStringLiteral("pairing-panel"));
    rig.app->host()->pairedHelpers().pairingPanel().close();

    // ---- the picture window ----
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    desktopPicture(1280, 800).save(&buffer, "JPEG", 85);
    TransferredFile picture{"f1", "Screenshot 9.41", "image/jpeg", jpeg.toStdString()};
    if (auto* pictureWindow = PictureWindowController::show(
            picture, QStringLiteral("Ada Lovelace \u00B7 Screenshot 9.41"), galleryPrompts())) {
        shoot(*pictureWindow, QStringLiteral("picture-window"));
        pictureWindow->scrollView().setMagnification(1.25);
        shoot(*pictureWindow, QStringLiteral("picture-window-zoomed"));
        pictureWindow->close();
    } else {
        ++failures;
    }

    // A service that takes connections and never answers: sends stay under way.
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost, 0);
    smallWindows("http://127.0.0.1:" + std::to_string(silent.serverPort()));

    // ---- the shell's alerts ----
    AlertRequest upToDate{"You're up to date", "Wickerlane 0.1.0 is the newest version."};
    shootAlert(upToDate, QStringLiteral("alert-up-to-date"));
    AlertRequest ready{"An update is ready",
                       "Wickerlane 0.2.0 installs and reopens as soon as no one is helping this computer and it is "
                       "not helping another."};
    shootAlert(ready, QStringLiteral("alert-update-ready"));
    AlertRequest failed{"Wickerlane couldn't update",
                        "The update was not installed: the signature of 0.2.0 does not verify."};
    failed.style = AlertRequest::Style::warning;
    shootAlert(failed, QStringLiteral("alert-update-failed"));
    AlertRequest notSaved{"The picture wasn't saved",
                          "It couldn't be written to /media/usb/Screenshot 9.41.jpg: Permission denied"};
    notSaved.style = AlertRequest::Style::warning;
    shootAlert(notSaved, QStringLiteral("alert-picture-not-saved"));
    // A helper's arrival: the microphone box unchecked on the dark dialog.
    shootAlert(HostHandshake::consentAlert("Ada Lovelace"), QStringLiteral("alert-consent-microphone-unchecked"));
    shootAlert(PairedHelpers::cannotAskForAdminRightsAlert(PolkitAdminPrompt::noAgentProblem()),
               QStringLiteral("alert-no-polkit-agent"));
    // The pairing question for a helper whose name is 60 KB of lines behind an override.
    std::string huge = "\u202E<b>Mallory</b>";
    while (huge.size() < 60 * 1024)
        huge += "\nAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
    AlertRequest pairing{shownName(huge) + " wants to be able to help with this Mac",
                         "Check that " + PairedHelpers::firstWord(huge) +
                             " sees this same number on their screen:\n\n123456\n\nOnly allow this if the numbers "
                             "match and you know them.",
                         {"Numbers match: Allow", "Don't Allow"}};
    shootAlert(pairing, QStringLiteral("alert-pairing-question-foreign-name"));

    std::cout << (failures ? "gallery: some pictures are missing" : "gallery: done") << std::endl;
    std::fflush(stdout);
    std::_Exit(failures ? 1 : 0);
}
