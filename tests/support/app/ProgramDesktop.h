#pragma once
// The shipped program (`wickerlane`) as a person runs it, each copy on a private X display
// of its own with a home of its own, and what a test reads off that display with the X
// tools (xwininfo, xdotool): where a window is, the program's main window; and a tray
// (trayer) on that display for the program's icon.
#include "TestDirs.h"
#include "WaitUntil.h"
#include "XvfbServer.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QRegularExpression>
#include <QStringList>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace wl::test {

// A private display with a home for the program.
struct Desktop {
    Desktop()
    {
        std::filesystem::create_directories(home.path() / ".config" / "Wickerlane");
        std::filesystem::create_directories(home.path() / ".local" / "share");
        std::filesystem::create_directories(home.path() / ".local" / "state");
    }
    ~Desktop()
    {
        if (tray.state() != QProcess::NotRunning) {
            tray.terminate();
            tray.waitForFinished(5000);
        }
    }
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // The test's own environment with this home and display; the information keys (the
    // service, the update feed) are left to the settings or to the test.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const auto h = home.path();
        env.insert("HOME", QString::fromStdString(h.string()));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((h / ".config").string()));
        env.insert("XDG_DATA_HOME", QString::fromStdString((h / ".local/share").string()));
        env.insert("XDG_STATE_HOME", QString::fromStdString((h / ".local/state").string()));
        env.insert("DISPLAY", QString::fromStdString(xvfb.display()));
        env.remove("QT_QPA_PLATFORM");
        env.remove("WLIntroductionURL");
        env.remove("SUFeedURL");
        env.remove("SUPublicEDKey");
        return env;
    }

    // Runs an X tool on this display; its output.
    std::string run(const QString& program, const QStringList& arguments) const
    {
        QProcess tool;
        tool.setProcessEnvironment(environment());
        tool.start(program, arguments);
        if (!tool.waitForFinished(10000))
            tool.kill();
        return tool.readAllStandardOutput().toStdString();
    }

    void settings(const std::string& text) const
    {
        std::ofstream(home.path() / ".config" / "Wickerlane" / "Wickerlane.ini") << "[General]\n" << text;
    }

    // Starts a tray (trayer, a panel 32 pixels high along the top) and waits until it
    // shows; false when it did not. It ends with this desktop.
    bool startTray()
    {
        tray.setProcessEnvironment(environment());
        tray.start(QStringLiteral("trayer"),
                   {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("right"),
                    QStringLiteral("--widthtype"), QStringLiteral("request"), QStringLiteral("--height"),
                    QStringLiteral("32"), QStringLiteral("--transparent"), QStringLiteral("false")});
        if (!tray.waitForStarted(5000))
            return false;
        return waitUntil(
            [&] {
                return run("xwininfo", {"-root", "-tree"}).find("\"panel\"") != std::string::npos;
            },
            10000);
    }

    XvfbServer xvfb{1280, 720};
    TempDir home;
    QProcess tray;
};

// Starts the program at `binary` (no arguments) with this environment, its output and errors
// in one stream; whether it started within ten seconds.
inline bool launchProgram(QProcess& process, const QString& binary, const QProcessEnvironment& environment)
{
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(binary, QStringList{});
    return process.waitForStarted(10000);
}

// A window's place on screen from `xwininfo -root -tree`: the line naming it.
inline std::optional<QRect> windowWhere(const std::string& tree, const QString& pattern)
{
    QRegularExpression line(pattern + QStringLiteral(R"(.*\s(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+(-?\d+)\+(-?\d+))"));
    auto match = line.match(QString::fromStdString(tree));
    if (!match.hasMatch())
        return std::nullopt;
    return QRect(match.captured(3).toInt(), match.captured(4).toInt(), match.captured(1).toInt(),
                 match.captured(2).toInt());
}

// The program's icon in the tray's panel along the top, once it is there.
inline std::optional<QRect> trayIcon(const Desktop& desktop)
{
    auto icon =
        windowWhere(desktop.run("xwininfo", {"-root", "-tree"}), QStringLiteral(R"("Wickerlane": \("wickerlane")"));
    if (!icon || icon->y() >= 32)
        return std::nullopt;
    return icon;
}

// The program's main windows that show (its 760-pixel-wide window named "Wickerlane").
inline std::vector<std::string> visibleMainWindows(const Desktop& desktop)
{
    const auto ids = desktop.run("xdotool", {"search", "--onlyvisible", "--name", "^Wickerlane$"});
    std::vector<std::string> found;
    std::istringstream lines(ids);
    for (std::string line; std::getline(lines, line);) {
        const auto geometry = desktop.run("xwininfo", {"-id", QString::fromStdString(line)});
        if (geometry.find("Width: 760") != std::string::npos)
            found.push_back(line);
    }
    return found;
}

} // namespace wl::test
