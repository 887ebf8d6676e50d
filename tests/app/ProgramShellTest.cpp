// The program as a person meets it, each run on a private X display of its own:
//   - scripts/run on a desktop with a tray (trayer): the introduction service and the
//     program run, the icon shows in the tray, drawn to stand out on the panel, a click
//     opens the host's menu, and "Quit Wickerlane" ends the program (and scripts/run
//     with it) at once;
//   - without a tray: no paired computer to help, so no window at launch; a second
//     launch asks the first to show its main window and ends, and a third finds the same
//     single window.
#include "ProgramDesktop.h"
#include "ServiceProcess.h"
#include "WaitUntil.h"

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace wl::test {
namespace {

QImage screenshot(const Desktop& desktop, const std::string& path)
{
    desktop.run(QStringLiteral("import"),
                {QStringLiteral("-window"), QStringLiteral("root"), QString::fromStdString(path)});
    return QImage(QString::fromStdString(path));
}

// The status of a device at the program's default address, asked at most twice a
// second: this test shares 127.0.0.1:8787 with a service a developer may run beside it,
// whose limit on new connections from one address the developer's own program shares
// (polled at the pace of waitUntil, the test ran through that limit hundreds of times).
int statusAt8787(const std::string& id, std::string* body = nullptr)
{
    static auto last = std::chrono::steady_clock::time_point{};
    std::this_thread::sleep_until(last + std::chrono::milliseconds(500));
    last = std::chrono::steady_clock::now();
    return ServiceProcess::httpRequest(8787, "GET", "/v1/status/" + id, {}, body);
}

bool answersAt8787()
{
    return statusAt8787(std::string(64, '0')) == 200;
}

TEST(ProgramShell, RunShowsTheTrayIconWhoseMenuOpensAndQuits)
{
    Desktop desktop;
    ASSERT_TRUE(desktop.xvfb.ok());
    desktop.settings("WLAcceptHelpRequests=true\n");
    const bool serviceWasThere = answersAt8787();

    // A desktop with a tray.
    ASSERT_TRUE(desktop.startTray()) << "trayer is not installed (scripts/install-deps)";

    // scripts/run, as a person starts it (the build is there already).
    const std::filesystem::path program = WL_PROGRAM_BINARY;
    QProcessEnvironment environment = desktop.environment();
    environment.insert("WL_BUILD_DIR",
                       QString::fromStdString(program.parent_path().parent_path().parent_path().string()));
    environment.insert("WL_RUN_SKIP_BUILD", "1");
    QProcess run;
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QString::fromStdString(std::string(WL_SOURCE_DIR) + "/scripts/run"));
    ASSERT_TRUE(run.waitForStarted(5000));
    std::string output, id;
    ASSERT_TRUE(waitUntil(
        [&] {
            output += run.readAll().toStdString();
            auto match = QRegularExpression("device id is ([0-9a-f]{64})").match(QString::fromStdString(output));
            if (match.hasMatch())
                id = match.captured(1).toStdString();
            return !id.empty();
        },
        20000))
        << output;

    // The service runs and the program is online there.
    ASSERT_TRUE(waitUntil(
        [&] {
            std::string body;
            if (statusAt8787(id, &body) != 200)
                return false;
            auto json = nlohmann::json::parse(body, nullptr, false);
            return json.is_object() && json.value("online", false);
        },
        15000))
        << output + run.readAll().toStdString();

    // The icon sits in the tray's panel.
    std::optional<QRect> icon;
    ASSERT_TRUE(waitUntil(
        [&] {
            icon = trayIcon(desktop);
            return icon.has_value();
        },
        10000))
        << desktop.run("xwininfo", {"-root", "-tree"});
    // Drawn in a colour that stands out on the (light grey) panel, once it has looked.
    const std::string shotPath = (desktop.home.path() / "tray.png").string();
    int dark = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            const QImage shot = screenshot(desktop, shotPath);
            dark = 0;
            for (int y = icon->top(); y <= icon->bottom() && !shot.isNull(); ++y)
                for (int x = icon->left(); x <= icon->right(); ++x)
                    dark += qGray(shot.pixel(x, y)) < 100;
            return dark > 20;
        },
        8000))
        << "dark pixels in the icon: " << dark;

    // A click opens the host's menu.
    const QPoint centre = icon->center();
    desktop.run("xdotool", {"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", "1"});
    std::optional<QRect> menu;
    ASSERT_TRUE(waitUntil(
        [&] {
            menu = windowWhere(desktop.run("xwininfo", {"-root", "-children"}),
                               QStringLiteral(R"("Wickerlane": \("wickerlane" "Wickerlane"\))"));
            return menu && menu->height() > 150;
        },
        5000))
        << desktop.run("xwininfo", {"-root", "-children"});
    const QImage withMenu = screenshot(desktop, shotPath);
    if (const char* gallery = std::getenv("WL_GALLERY_DIR"))
        withMenu.copy(menu->adjusted(-40, -40, 40, 40))
            .save(QString::fromStdString(std::string(gallery) + "/program-tray-menu.png"));

    // The last item is "Quit Wickerlane": chosen, the program ends at once, and
    // scripts/run with it.
    desktop.run("xdotool", {"key", "Up", "Return"});
    ASSERT_TRUE(run.waitForFinished(5000)) << "still running after its menu's Quit";
    output += run.readAll().toStdString();
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.exitCode(), 0) << output;
    EXPECT_NE(output.find("Wickerlane: quitting"), std::string::npos) << output;
    if (!serviceWasThere) {
        EXPECT_TRUE(waitUntil([] { return !answersAt8787(); }, 5000)) << "scripts/run stops the service it started";
    }
}

TEST(ProgramShell, WithoutATrayASecondLaunchShowsTheWindow)
{
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    Desktop desktop;
    ASSERT_TRUE(desktop.xvfb.ok());
    QProcessEnvironment environment = desktop.environment();
    environment.insert("WLIntroductionURL", QString::fromStdString(service.httpUrl() + "/"));
    auto launch = [&](QProcess& process) {
        return launchProgram(process, QStringLiteral(WL_PROGRAM_BINARY), environment);
    };

    QProcess first;
    ASSERT_TRUE(launch(first));
    std::string output;
    ASSERT_TRUE(waitUntil(
        [&] {
            output += first.readAll().toStdString();
            return output.find("device id is") != std::string::npos &&
                output.find("this desktop shows no tray icons") != std::string::npos;
        },
        20000))
        << output;
    // The turn after start-up where a window would open is inside the other process: no
    // marker of it reaches this one, so half a second stands for it.
    processEventsFor(500);
    EXPECT_TRUE(visibleMainWindows(desktop).empty()) << "no paired computer to help: the tray alone";
    EXPECT_NE((output + first.readAll().toStdString()).find("this desktop shows no tray icons"), std::string::npos);

    // A second launch: it hands over and ends; the first shows its main window.
    QProcess second;
    ASSERT_TRUE(launch(second));
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(second.readAll().toStdString().find("device id is"), std::string::npos)
        << "the second copy started nothing of its own";
    std::vector<std::string> windows;
    ASSERT_TRUE(waitUntil(
        [&] {
            windows = visibleMainWindows(desktop);
            return windows.size() == 1;
        },
        5000));
    EXPECT_EQ(first.state(), QProcess::Running);

    // A third: still the one window.
    QProcess third;
    ASSERT_TRUE(launch(third));
    ASSERT_TRUE(third.waitForFinished(10000));
    // The first has shown its window again by the time the third ends; what that sends the
    // X server leaves the first process on its next turn, of which nothing tells this one.
    processEventsFor(300);
    EXPECT_EQ(visibleMainWindows(desktop), windows);

    // Its entry in the desktop's applications launches this program.
    std::ifstream entry(desktop.home.path() / ".local/share/applications/org.wickerlane.Wickerlane.desktop");
    std::stringstream text;
    text << entry.rdbuf();
    EXPECT_NE(text.str().find("Exec=\"" + std::string(WL_PROGRAM_BINARY) + "\""), std::string::npos) << text.str();

    first.terminate();
    EXPECT_TRUE(first.waitForFinished(3000));
}

} // namespace
} // namespace wl::test
