// wickerlane-testbed: the desktop program built from the same libraries as
// `wickerlane`, for tests that run two programs against the real introduction
// service. It differs in one way only: its prompts, owner check and administrator
// prompt are scripted, and a test drives it through a line protocol on its standard
// input and output (one JSON object a line each way). The shipped program has none of
// this.
//
// Commands ({"cmd": ...}) and their answers:
//   state                        → the host's and the helper's published state
//   accept {on}                  → the host accepts help requests (or stops)
//   startPairing                 → {code}: the host waits with a new pairing code
//   answerAlert {button,checked} / answerText {text|null} / answerSecrets {first,second|null}
//   ownerCheck {answer,hold} / adminPrompt {answer}
//                                → queue scripted answers (taken in order); with hold, the
//                                  next owner check waits for releaseOwnerCheck
//   releaseOwnerCheck            → {released}: the held owner check answers now
//   holdAlert                    → the next alert without a scripted answer stays open (the
//                                  program waits behind it) until releaseAlert
//   releaseAlert {button,checked}→ {released}: the held alert answers so now
//   advanceClock {ms}            → the program's timers run that much time ahead
//   dropSignalling               → the helper's link to the service closes (a live session
//                                  carries on directly)
//   questions                    → every question asked so far (title, text)
//   pair {code,name}             → the helper pairs through the pairing sheet's action
//   connect {id,unattended}      → the helper connects to a paired host
//   end                          → the helper's End button
//   pointer {x,y}                → the mouse moves over the remote screen at that fraction
//   suggest {x,y}                → a left click there (a suggestion in guide mode)
//   mouse {kind,x,y,button}      → a mouse event there: kind "move", "down" or "up", button
//                                  "left" or "right"; answers {sentAt} (steady-clock ns)
//   scroll {dx,dy}               → a wheel turned over the remote screen by that many pixels
//                                  (whole numbers); answers {sentAt} (steady-clock ns)
//   wheel                        → {clicks,firstAt,lastAt}: the wheel clicks the host posted
//                                  since the last ask, and when the first and the last were
//                                  posted (steady-clock ns)
//   requestControl               → the helper's "Ask to Take Over"
//   frame {path}                 → {width,height}: the last picture shown, saved as PNG
//   allowUnattended {id}         → the host allows a paired helper unattended access
//   history                      → {lines}: the host's session history
//   watchMarker {x0,y0,x1,y1,bright,timeoutMs}
//                                → later: {seenAt} (steady-clock nanoseconds) when a painted
//                                  picture shows the region bright (or dark), or {timeout}
//   bytes                        → later: {sent, received}: the helper's transport bytes
//   windowShot {path}            → the main window as it looks now, saved as PNG
//   hideWindow                   → closes nothing, hides the main window (a host's screen
//                                  shows only what the test paints)
//   resizeWindow {width,height}  → the main window at that size, placed at the top left
//   menu {item}                  → chooses the host menu's item with that text ("Quit
//                                  Wickerlane" ends the program as a person's choice does)
//   askForHelp {topic,note,pictures}
//                                → the host asks its helpers for help with that many
//                                  pictures drawn here (a topic by its title)
//   people                       → the helper's list of people as drawn: its cards (name,
//                                  subtitle, request block texts, device lines) and the
//                                  pictures sheet when one is open
//   click {name,card,device}     → clicks the button with that object name in the list (in
//                                  the card of that person, on the line of that device) or
//                                  in the pictures sheet
//   fragmentHeap {mb,threads}    → {ok}: a heap like a long session's, to trim: that many MB
//                                  in 32-KB blocks from that many threads' arenas, every
//                                  other block freed (the last call's blocks go first)
//   quit                         → exits at once
#include "HostFakes.h"
#include "ScriptedOwnerCheck.h"
#include "ScriptedPrompts.h"
#include "WarpTimers.h"

#include "signalling/SignalTransport.h"

#include "app/DesktopStartup.h"
#include "app/MainWindow.h"
#include "app/MenuBarExtra.h"
#include "style/Palette.h"
#include "app/WickerlaneApp.h"
#include "app/people/PeopleView.h"
#include "app/people/PicturesSheet.h"
#include "app/people/RequestBlock.h"
#include "host/GuideOverlayController.h"
#include "host/HelpRequestCenter.h"
#include "host/SuggestionCard.h"
#include "host/HostController.h"
#include "host/HostHandshake.h"
#include "host/HostSession.h"
#include "host/PairedHelpers.h"
#include "host/HostPeer.h"
#include "host/MemoryTrim.h"
#include "mail/HelpTopic.h"
#include "mail/PairingHost.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/OwnerCheck.h"
#include "platform/Prompts.h"
#include "platform/Required.h"
#include "platform/SystemServices.h"
#include "platform/linux/XTestInputPoster.h"
#include "viewer/FrameLayer.h"
#include "viewer/PairingSheet.h"
#include "viewer/RemoteScreenView.h"
#include "viewer/SampleBufferRenderer.h"
#include "viewer/ViewerController.h"
#include "viewer/ViewerPeer.h"
#include "viewer/ViewerRootView.h"

#include <nlohmann/json.hpp>

#include <exception>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QLineEdit>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <optional>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <latch>
#include <thread>
#include <vector>

namespace {

using json = nlohmann::json;

const char* phaseName(wl::ViewerController::Phase::Kind kind)
{
    using K = wl::ViewerController::Phase::Kind;
    switch (kind) {
    case K::waiting: return "waiting";
    case K::connected: return "connected";
    case K::message: return "message";
    case K::browsing: return "browsing";
    }
    return "?";
}

const char* pairingName(wl::ViewerController::PairingState::Kind kind)
{
    using K = wl::ViewerController::PairingState::Kind;
    switch (kind) {
    case K::verify: return "verify";
    case K::paired: return "paired";
    case K::failed: return "failed";
    case K::idle: return "idle";
    case K::connecting: return "connecting";
    }
    return "?";
}

json devicesJson(const std::vector<wl::PairedDevice>& devices)
{
    json list = json::array();
    for (const auto& d : devices) {
        json entry = {
            {"id", d.id}, {"name", d.name}, {"publicKey", d.publicKey}, {"unattended", d.unattended.has_value()}};
        if (d.person)
            entry["person"] = *d.person;
        if (d.unattended)
            entry["failedAttempts"] = d.unattended->failedAttempts;
        list.push_back(entry);
    }
    return list;
}

std::string historyPath()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base = state ? state : std::string(std::getenv("HOME") ? std::getenv("HOME") : "") + "/.local/state";
    return base + "/Wickerlane Host/Session History.log";
}

std::int64_t steadyNow()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
}

// The desktop's poster, noting when the wheel turns.
class WheelWatchingPoster final : public wl::InputPoster {
public:
    bool available() override { return inner_.available(); }
    void movePointer(int x, int y) override { inner_.movePointer(x, y); }
    void button(int button, bool down) override
    {
        if (down && button >= 4 && button <= 7) {
            const std::int64_t now = steadyNow();
            if (clicks == 0)
                firstAt = now;
            lastAt = now;
            ++clicks;
        }
        inner_.button(button, down);
    }
    bool hasKeysym(std::uint32_t keysym) override { return inner_.hasKeysym(keysym); }
    bool key(std::uint32_t keysym, bool down) override { return inner_.key(keysym, down); }
    bool capsLockOn() override { return inner_.capsLockOn(); }

    long long clicks = 0;
    std::int64_t firstAt = 0, lastAt = 0;

private:
    wl::XTestInputPoster inner_;
};

class Testbed {
public:
    Testbed(wl::WickerlaneApp& program, wl::test::ScriptedPrompts& prompts, wl::test::ScriptedOwnerCheck& owner,
            wl::test::ScriptedAdminPrompt& admin, wl::test::WarpTimers& timers, WheelWatchingPoster& poster,
            std::shared_ptr<wl::Defaults> settings)
        : program_(program), prompts_(prompts), owner_(owner), admin_(admin), timers_(timers), poster_(poster),
          settings_(std::move(settings))
    {
        // The comparison number the sheet showed, kept after pairing moves on.
        wl::ViewerController* viewer = program_.viewer();
        QObject::connect(viewer, &wl::ViewerController::changed, viewer, [this, viewer] {
            if (viewer->hosts().pairingState().kind == wl::ViewerController::PairingState::Kind::verify)
                verifyNumber_ = viewer->hosts().pairingState().number;
        });
        // A held alert stays open as a person's does, the program's events going on behind it.
        prompts_.onAlert = [this](const wl::test::ScriptedPrompts::Question&) -> std::optional<wl::AlertAnswer> {
            if (!holdAlert_)
                return std::nullopt;
            holdAlert_ = false;
            QEventLoop open;
            heldAlert_ = &open;
            open.exec();
            heldAlert_ = nullptr;
            return heldAnswer_;
        };
    }

    // Writes one answer line.
    std::function<void(const json&)> reply;

    // The answer, or nullopt when it comes later through reply.
    std::optional<json> run(const json& command)
    {
        const std::string cmd = command.value("cmd", "");
        if (cmd == "watchMarker")
            return watchMarker(command);
        if (cmd == "bytes") {
            wl::ViewerController& viewer = *program_.viewer();
            if (!viewer.session().peer())
                return json{{"error", "no session"}};
            auto answer = reply;
            viewer.session().peer()->transportBytes([answer](wl::ViewerPeer::ByteCounts counts) {
                answer({{"sent", counts.sent},
                        {"received", counts.received},
                        {"video", counts.videoReceived},
                        {"audio", counts.audioReceived}});
            });
            return std::nullopt;
        }
        return runNow(command);
    }

    json runNow(const json& command)
    {
        const std::string cmd = command.value("cmd", "");
        wl::HostController& host = *program_.host();
        wl::ViewerController& viewer = *program_.viewer();
        if (cmd == "state")
            return state();
        if (cmd == "accept") {
            host.setAcceptingHelpRequests(command.value("on", true));
            return {{"ok", true}};
        }
        if (cmd == "startPairing") {
            host.pairedHelpers().startPairing();
            // A person reads the code off the screen and types it in; a test sends it at
            // once, so the answer waits until the service holds the code.
            QDeadlineTimer deadline(10000);
            while (host.pairedHelpers().pairing() && !host.pairedHelpers().pairing()->isWaiting() &&
                   !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            return {{"code", host.pairedHelpers().pairing() ? host.pairedHelpers().pairing()->code() : std::string()}};
        }
        if (cmd == "answerAlert") {
            prompts_.answerAlert(command.value("button", 0), command.value("checked", false));
            return {{"ok", true}};
        }
        if (cmd == "answerText") {
            if (command.contains("text") && command["text"].is_string())
                prompts_.answerText(command["text"].get<std::string>());
            else
                prompts_.answerText(std::nullopt);
            return {{"ok", true}};
        }
        if (cmd == "answerSecrets") {
            if (command.contains("first") && command["first"].is_string())
                prompts_.answerSecrets(std::make_pair(command["first"].get<std::string>(),
                                                      command.value("second", command["first"].get<std::string>())));
            else
                prompts_.answerSecrets(std::nullopt);
            return {{"ok", true}};
        }
        if (cmd == "ownerCheck") {
            owner_.answer(command.value("answer", false));
            if (command.value("hold", false))
                owner_.holdNext();
            return {{"ok", true}};
        }
        if (cmd == "releaseOwnerCheck") {
            const bool held = owner_.holding();
            owner_.release();
            return {{"released", held}};
        }
        if (cmd == "holdAlert") {
            holdAlert_ = true;
            return {{"ok", true}};
        }
        if (cmd == "releaseAlert") {
            if (!heldAlert_)
                return {{"released", false}};
            heldAnswer_ = wl::AlertAnswer{command.value("button", 0), command.value("checked", false)};
            heldAlert_->quit();
            return {{"released", true}};
        }
        if (cmd == "advanceClock") {
            timers_.advance(std::chrono::milliseconds(command.value("ms", 0)));
            return {{"ok", true}};
        }
        if (cmd == "dropSignalling") {
            if (!viewer.session().transport())
                return {{"ok", false}};
            viewer.session().transport()->close();
            return {{"ok", true}};
        }
        if (cmd == "adminPrompt") {
            admin_.answers.push_back(command.value("answer", false) ? wl::AdminAnswer::granted()
                                                                    : wl::AdminAnswer::refused());
            return {{"ok", true}};
        }
        if (cmd == "questions") {
            json list = json::array();
            for (const auto& q : prompts_.questions())
                list.push_back({{"title", q.title}, {"text", q.informativeText}});
            return {{"questions", list}, {"ownerReasons", owner_.reasons()}};
        }
        if (cmd == "pair") {
            // Through the sheet, as the user types and clicks Pair.
            wl::PairingSheet sheet(viewer);
            sheet.codeField()->setText(QString::fromStdString(command.value("code", "")));
            sheet.nameField()->setText(QString::fromStdString(command.value("name", "")));
            sheet.pairAction();
            return {{"started", !sheet.showsCodeError()}};
        }
        if (cmd == "connect") {
            const std::string id = command.value("id", "");
            for (const auto& device : viewer.hosts().devices())
                if (device.id == id) {
                    viewer.session().connect(device, command.value("unattended", false));
                    return {{"ok", true}};
                }
            return {{"ok", false}};
        }
        if (cmd == "end") {
            viewer.session().end();
            return {{"ok", true}};
        }
        if (cmd == "pointer")
            return mouse("move", command.value("x", 0.5), command.value("y", 0.5), "left");
        if (cmd == "suggest") {
            json pressed = mouse("down", command.value("x", 0.5), command.value("y", 0.5), "left");
            if (!pressed.value("ok", false))
                return pressed;
            return mouse("up", command.value("x", 0.5), command.value("y", 0.5), "left");
        }
        if (cmd == "mouse")
            return mouse(command.value("kind", "move"), command.value("x", 0.5), command.value("y", 0.5),
                         command.value("button", "left"));
        if (cmd == "scroll")
            return scroll(command.value("dx", 0), command.value("dy", 0));
        if (cmd == "wheel") {
            json answer = {{"clicks", poster_.clicks}, {"firstAt", poster_.firstAt}, {"lastAt", poster_.lastAt}};
            poster_.clicks = 0;
            return answer;
        }
        if (cmd == "requestControl") {
            viewer.session().requestControl();
            return {{"ok", true}};
        }
        if (cmd == "frame")
            return frame(command.value("path", ""));
        if (cmd == "allowUnattended") {
            for (const auto& helper : host.helpers())
                if (helper.id == command.value("id", "")) {
                    host.pairedHelpers().allowUnattendedAccess(helper);
                    return {{"ok", true}};
                }
            return {{"ok", false}};
        }
        if (cmd == "history") {
            json lines = json::array();
            std::ifstream in(historyPath());
            for (std::string line; std::getline(in, line);)
                lines.push_back(line);
            return {{"lines", lines}};
        }
        if (cmd == "windowShot") {
            auto* window = program_.mainWindow();
            const bool saved = window && window->grab().save(QString::fromStdString(command.value("path", "")), "PNG");
            return {{"ok", saved}};
        }
        if (cmd == "resizeWindow") {
            auto* window = program_.mainWindow();
            if (!window)
                return {{"ok", false}};
            window->move(0, 0);
            window->resize(command.value("width", 760), command.value("height", 640));
            return {{"ok", true}};
        }
        if (cmd == "hideWindow") {
            if (auto* window = program_.mainWindow())
                window->hide();
            return {{"ok", true}};
        }
        if (cmd == "menu") {
            auto* extra = program_.menuBarExtra();
            if (!extra)
                return {{"ok", false}};
            extra->menu().refresh();
            const QString item = QString::fromStdString(command.value("item", ""));
            for (QAction* action : extra->menu().menu()->actions()) {
                if (action->isVisible() && action->text() == wl::HostMenu::menuText(item.toStdString()) &&
                    action->isEnabled()) {
                    action->trigger();
                    return {{"ok", true}};
                }
            }
            return {{"ok", false}};
        }
        if (cmd == "askForHelp") {
            wl::HelpRequestCenter& requests = host.helpRequests();
            const int count = command.value("pictures", 0);
            for (int i = 0; i < count; ++i) {
                QImage picture(800, 500, QImage::Format_RGB32);
                picture.fill(QColor::fromHsv((i * 97) % 360, 180, 220));
                requests.addPicture(picture, "Picture " + std::to_string(i + 1));
            }
            if (static_cast<int>(requests.draft().size()) != count)
                return {{"ok", false}};
            requests.send(wl::helpTopicFromRaw(command.value("topic", "")), command.value("note", ""));
            return {{"ok", true}};
        }
        if (cmd == "people")
            return people();
        if (cmd == "click")
            return click(command);
        if (cmd == "memory") {
            // Bytes in use by malloc (small blocks and mapped ones), for the memory benchmark.
            const struct mallinfo2 info = mallinfo2();
            const wl::MemoryTrim::Figures trims = wl::MemoryTrim::figures();
            return {{"inUse", static_cast<long long>(info.uordblks + info.hblkhd)},
                    {"trims", trims.trims},
                    {"lastTrimUs", trims.last.count()},
                    {"longestTrimUs", trims.longest.count()}};
        }
        if (cmd == "fragmentHeap") {
            fragmentHeap(std::clamp(command.value("mb", 256), 1, 1024),
                         std::clamp(command.value("threads", 24), 1, 64));
            return {{"ok", true}};
        }
        if (cmd == "quit") {
            settings_->sync();
            std::_Exit(0);
        }
        return {{"error", "unknown command " + cmd}};
    }

private:
    void fragmentHeap(int megabytes, int threads)
    {
        constexpr std::size_t kBlock = 32 * 1024;
        for (auto& blocks : fragments_)
            for (void* block : blocks)
                std::free(block);
        fragments_.assign(std::size_t(threads), {});
        const std::size_t perThread = std::size_t(megabytes) * 1024 * 1024 / kBlock / std::size_t(threads);
        // All alive before the first allocation: each thread gets an arena of its own.
        std::latch started(threads);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                started.arrive_and_wait();
                std::vector<void*> all;
                for (std::size_t i = 0; i < perThread; ++i) {
                    void* block = std::malloc(kBlock);
                    std::memset(block, int(i), kBlock);
                    all.push_back(block);
                }
                for (std::size_t i = 0; i < all.size(); ++i) {
                    if (i % 2)
                        std::free(all[i]);
                    else
                        fragments_[std::size_t(t)].push_back(all[i]);
                }
            });
        for (auto& worker : workers)
            worker.join();
    }

    std::optional<json> watchMarker(const json& command)
    {
        auto* window = program_.mainWindow();
        auto* screen = window ? window->rootView()->remoteScreen() : nullptr;
        wl::FrameLayer* layer = screen ? screen->layer() : nullptr;
        if (!layer)
            return json{{"error", "no picture"}};
        struct Watch {
            QMetaObject::Connection connection;
            QTimer* timer = nullptr;
            bool done = false;
        };
        auto watch = std::make_shared<Watch>();
        const double x0 = command.value("x0", 0.12), y0 = command.value("y0", 0.12);
        const double x1 = command.value("x1", 0.18), y1 = command.value("y1", 0.18);
        const bool bright = command.value("bright", true);
        auto answer = reply;
        auto finish = [watch, answer](const json& result) {
            if (watch->done)
                return;
            watch->done = true;
            QObject::disconnect(watch->connection);
            if (watch->timer)
                watch->timer->deleteLater();
            answer(result);
        };
        watch->connection = QObject::connect(layer, &wl::FrameLayer::painted, layer, [=] {
            const QImage& picture = layer->picture();
            if (picture.isNull())
                return;
            double total = 0;
            int count = 0;
            for (int y = int(y0 * picture.height()); y < int(y1 * picture.height()); y += 4) {
                const auto* row = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
                for (int x = int(x0 * picture.width()); x < int(x1 * picture.width()); x += 4, ++count)
                    total += qGray(row[x]);
            }
            const double luma = count ? total / count : 0;
            if (bright ? luma > 200 : luma < 55) {
                const auto now = std::chrono::steady_clock::now().time_since_epoch();
                finish({{"seenAt", std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()}});
            }
        });
        watch->timer = new QTimer(layer);
        watch->timer->setSingleShot(true);
        QObject::connect(watch->timer, &QTimer::timeout, layer, [finish] { finish({{"timeout", true}}); });
        watch->timer->start(command.value("timeoutMs", 2000));
        return std::nullopt;
    }

    json state()
    {
        wl::HostController& host = *program_.host();
        wl::ViewerController& viewer = *program_.viewer();
        json h = {{"online", host.isOnline()},
                  {"listening", host.isListening()},
                  {"inSession", host.helperName().has_value()},
                  {"peer", host.session().peer() != nullptr},
                  {"handshake", host.handshake().attempt().has_value()},
                  {"helpers", devicesJson(host.helpers())},
                  {"activeRequest", host.helpRequests().hasActive()}};
        if (host.helperName())
            h["helperName"] = *host.helperName();
        if (const auto& pointer = host.session().overlay().model.pointer)
            h["pointer"] = {{"x", pointer->x}, {"y", pointer->y}};
        h["mode"] = wl::toString(host.session().mode());
        h["suggestions"] = host.session().overlay().model.suggestions.size();
        if (auto* card = host.session().overlay().suggestionPanel()) {
            // Where the card's "do it this time" button is on the screen.
            QAbstractButton* button = card->thisTimeButton();
            const QPoint at = button->mapToGlobal(QPoint(0, 0));
            h["doItButton"] = {{"x", at.x()}, {"y", at.y()}, {"width", button->width()}, {"height", button->height()}};
        }
        json v = {
            {"phase", phaseName(viewer.session().phase().kind)},
            {"phaseText", viewer.session().phase().text},
            {"devices", devicesJson(viewer.hosts().devices())},
            {"online", std::vector<std::string>(viewer.hosts().onlineIDs().begin(), viewer.hosts().onlineIDs().end())},
            {"knownUnattended",
             std::vector<std::string>(viewer.hosts().knownUnattended().begin(),
                                      viewer.hosts().knownUnattended().end())},
            {"pairing", pairingName(viewer.hosts().pairingState().kind)},
            {"pairingNumber", verifyNumber_},
            {"pairingHostName", viewer.hosts().pairingState().hostName},
            {"pairingText", viewer.hosts().pairingState().text},
            {"connectionInfo", viewer.session().connectionInfo()},
            {"peer", viewer.session().peer() != nullptr},
            {"mode", wl::toString(viewer.session().mode())},
            {"theyHaveTheMouse", viewer.session().theyHaveTheMouse()}};
        if (viewer.session().peer()) {
            v["framesShown"] = viewer.session().peer()->renderer().counters().framesShown;
            v["guideOpen"] = viewer.session().peer()->guideOpen();
        }
        if (auto* window = program_.mainWindow()) {
            v["screen"] = window->rootView()->screenName().toStdString();
            v["messageText"] = window->rootView()->messageText().toStdString();
            v["modeText"] = window->rootView()->modeText().toStdString();
        }
        return {{"deviceId", program_.services()->messenger->identity().deviceId()}, {"host", h}, {"viewer", v}};
    }

    static std::string labelText(QWidget* parent, const char* name)
    {
        auto* label = parent ? parent->findChild<QLabel*>(QString::fromLatin1(name)) : nullptr;
        return label ? label->text().toStdString() : std::string();
    }

    wl::PeopleView* peopleView() const
    {
        auto* window = program_.mainWindow();
        return window ? window->peopleView() : nullptr;
    }

    json people()
    {
        wl::PeopleView* view = peopleView();
        if (!view)
            return {{"error", "no list"}};
        json cards = json::array();
        for (auto* card : view->findChildren<wl::PersonCard*>(QStringLiteral("personCard"))) {
            if (card->isHidden())
                continue;
            json entry = {{"name", card->property("groupName").toString().toStdString()},
                          {"subtitle", labelText(card, "personSubtitle")}};
            if (auto* block = card->findChild<wl::RequestBlock*>(QStringLiteral("requestBlock"))) {
                json request = {{"id", block->model().request.id},
                                {"topic", labelText(block, "requestTopic")},
                                {"note", labelText(block, "requestNote")}};
                if (auto* pictures = block->findChild<QAbstractButton*>(QStringLiteral("picturesButton")))
                    request["pictures"] = pictures->text().toStdString();
                entry["request"] = request;
            }
            json lines = json::array();
            for (auto* line : card->findChildren<QWidget*>(QStringLiteral("deviceLine"))) {
                auto* primary = line->findChild<QAbstractButton*>(QStringLiteral("primaryButton"));
                lines.push_back({{"id", line->property("deviceId").toString().toStdString()},
                                 {"name", labelText(line, "deviceName")},
                                 {"status", labelText(line, "statusText")},
                                 {"primary", primary ? primary->text().toStdString() : std::string()}});
            }
            entry["lines"] = lines;
            cards.push_back(entry);
        }
        json answer = {{"cards", cards}, {"banner", labelText(view, "askingBannerText")}};
        if (wl::PicturesSheet* sheet = view->picturesSheet()) {
            json tiles = json::array();
            for (auto* tile : sheet->findChildren<QWidget*>(QStringLiteral("pictureTile")))
                tiles.push_back({{"name", labelText(tile, "pictureName")},
                                 {"picture", tile->findChild<QWidget*>(QStringLiteral("pictureButton")) != nullptr}});
            answer["sheet"] = {{"title", labelText(sheet, "sheetTitle")},
                               {"subtitle", labelText(sheet, "sheetSubtitle")},
                               {"tiles", tiles},
                               {"visible", sheet->isVisible()}};
        }
        return answer;
    }

    json click(const json& command)
    {
        wl::PeopleView* view = peopleView();
        if (!view)
            return {{"ok", false}};
        const QString name = QString::fromStdString(command.value("name", ""));
        QWidget* scope = view;
        if (wl::PicturesSheet* sheet = view->picturesSheet(); sheet && command.value("sheet", false))
            scope = sheet;
        if (command.contains("card"))
            scope = view->card(command.value("card", ""));
        if (scope && command.contains("device")) {
            QWidget* found = nullptr;
            for (auto* line : scope->findChildren<QWidget*>(QStringLiteral("deviceLine")))
                if (line->property("deviceId").toString().toStdString() == command.value("device", ""))
                    found = line;
            scope = found;
        }
        auto* button = scope ? scope->findChild<QAbstractButton*>(name) : nullptr;
        if (!button || !button->isEnabled())
            return {{"ok", false}};
        button->click();
        return {{"ok", true}};
    }

    // A mouse event over the remote screen at a fraction of the picture, as the helper's
    // mouse makes it.
    json mouse(const std::string& kind, double x, double y, const std::string& buttonName)
    {
        auto* window = program_.mainWindow();
        auto* screen = window ? window->rootView()->remoteScreen() : nullptr;
        wl::FrameLayer* layer = screen ? screen->layer() : nullptr;
        if (!layer)
            return {{"ok", false}};
        QRectF picture = layer->pictureRect();
        if (picture.isEmpty())
            return {{"ok", false}};
        const QPointF at =
            QPointF(layer->pos()) + QPointF(picture.left() + x * picture.width(), picture.top() + y * picture.height());
        const Qt::MouseButton button = buttonName == "right" ? Qt::RightButton : Qt::LeftButton;
        QEvent::Type type = QEvent::MouseMove;
        Qt::MouseButton changed = Qt::NoButton;
        Qt::MouseButtons held = heldButtons_;
        if (kind == "down") {
            type = QEvent::MouseButtonPress;
            changed = button;
            held |= button;
        } else if (kind == "up") {
            type = QEvent::MouseButtonRelease;
            changed = button;
            held &= ~Qt::MouseButtons(button);
        }
        heldButtons_ = held;
        QMouseEvent event(type, at, screen->mapToGlobal(at), changed, held, Qt::NoModifier);
        const auto sentAt = std::chrono::steady_clock::now().time_since_epoch();
        QApplication::sendEvent(screen, &event);
        return {{"ok", true}, {"sentAt", std::chrono::duration_cast<std::chrono::nanoseconds>(sentAt).count()}};
    }

    // The helper's wheel over the middle of the remote screen, in pixels.
    json scroll(int dx, int dy)
    {
        auto* window = program_.mainWindow();
        auto* screen = window ? window->rootView()->remoteScreen() : nullptr;
        if (!screen)
            return {{"ok", false}};
        const QPointF at(screen->width() / 2.0, screen->height() / 2.0);
        QWheelEvent event(at, screen->mapToGlobal(at), QPoint(dx, dy), QPoint(), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        const std::int64_t sentAt = steadyNow();
        QApplication::sendEvent(screen, &event);
        return {{"ok", true}, {"sentAt", sentAt}};
    }

    json frame(const std::string& path)
    {
        auto* window = program_.mainWindow();
        auto* screen = window ? window->rootView()->remoteScreen() : nullptr;
        wl::FrameLayer* layer = screen ? screen->layer() : nullptr;
        if (!layer || layer->picture().isNull())
            return {{"width", 0}, {"height", 0}};
        layer->picture().save(QString::fromStdString(path), "PNG");
        return {{"width", layer->picture().width()}, {"height", layer->picture().height()}};
    }

    wl::WickerlaneApp& program_;
    wl::test::ScriptedPrompts& prompts_;
    wl::test::ScriptedOwnerCheck& owner_;
    wl::test::ScriptedAdminPrompt& admin_;
    wl::test::WarpTimers& timers_;
    WheelWatchingPoster& poster_;
    std::shared_ptr<wl::Defaults> settings_;
    std::string verifyNumber_;
    Qt::MouseButtons heldButtons_;
    bool holdAlert_ = false;
    QEventLoop* heldAlert_ = nullptr;
    wl::AlertAnswer heldAnswer_;
    // The blocks fragmentHeap keeps, by thread.
    std::vector<std::vector<void*>> fragments_;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Wickerlane"));
    QApplication::setQuitOnLastWindowClosed(false);

    wl::WickerlaneApp::Options options;
    options.platform = wl::chooseDesktopBackends();
    // Qt's timers, on a clock the test may move forward.
    wl::test::WarpTimers timers;
    options.platform.timers = timers.factory();
    auto settings = options.platform.defaults;
    auto poster = std::make_shared<WheelWatchingPoster>();
    options.platform.inputPoster = poster;
    wl::applyDarkStyle(app);
    auto prompts = std::make_shared<wl::test::ScriptedPrompts>();
    auto owner = std::make_shared<wl::test::ScriptedOwnerCheck>();
    auto admin = std::make_shared<wl::test::ScriptedAdminPrompt>();
    options.platform.prompts = prompts;
    options.platform.ownerCheck = owner;
    options.platform.adminPrompt = admin;
    wl::MediaEngine media(wl::chooseMediaBackends(*settings));
    wl::WickerlaneApp program(media, std::move(options));
    if (!program.start())
        return 1;
    // Tests drive and photograph the helper's window whether or not it has paired hosts yet.
    program.openMainWindow();
    Testbed testbed(program, *prompts, *owner, *admin, timers, *poster, settings);
    testbed.reply = [](const json& answer) {
        std::string out = answer.dump() + "\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
    };

    // One command a line on standard input; one answer a line on standard output.
    std::string pending;
    auto* input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
    QObject::connect(input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            // The test went away: so does the program.
            std::_Exit(0);
        }
        pending.append(buffer, std::size_t(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            std::optional<json> answer;
            try {
                answer = testbed.run(json::parse(line));
            } catch (const wl::WiringMistake&) {
                // A part made without what it needs ends this program as it ends the
                // shipped one, instead of becoming an answer a test may not look at.
                std::terminate();
            } catch (const std::exception& error) {
                answer = json{{"error", error.what()}};
            }
            if (answer)
                testbed.reply(*answer);
        }
    });
    std::printf("{\"ready\":true}\n");
    std::fflush(stdout);
    return app.exec();
}
