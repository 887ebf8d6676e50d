#include "platform/linux/HostServices.h"

#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/linux/DesktopPlatform.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QEventLoop>
#include <QProcess>
#include <QUrl>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/scrnsaver.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace wl {

namespace {

constexpr int kCallTimeoutMs = 3000;

bool hasService(const QDBusConnection& bus, const QString& name)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    return bus.interface()->isServiceRegistered(name).value();
}

} // namespace

// ---- administrator prompt ----

namespace {

std::string cannotAskBecause(const std::string& what)
{
    return "Wickerlane couldn't ask for an administrator's password because " + what;
}

} // namespace

std::string PolkitAdminPrompt::noAgentProblem()
{
    return cannotAskBecause("no polkit authentication agent is running. Start your desktop's authentication "
                            "agent, or install one (such as polkit-kde-agent-1, lxpolkit or policykit-1-gnome) and "
                            "sign in again. Then try again.");
}

AdminAnswer PolkitAdminPrompt::askForAdminRights()
{
    QProcess process;
    process.setProgram(QString::fromStdString(program_));
    process.setArguments({QStringLiteral("--action-id"), QString::fromUtf8(kAction), QStringLiteral("--process"),
                          QString::number(::getpid()), QStringLiteral("--allow-user-interaction")});
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&loop](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    process.start();
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    // pkcheck's own words, first line only ("Error getting authority: …").
    std::string words = process.readAllStandardError().trimmed().toStdString();
    words = words.substr(0, words.find('\n'));
    auto cannotAsk = [&](const std::string& what, const std::string& problem) {
        Log::line("Wickerlane: can't ask for administrator rights: " + what + (words.empty() ? "" : ": " + words));
        return AdminAnswer::cannotAsk(problem);
    };
    if (process.error() == QProcess::FailedToStart)
        return cannotAsk(program_ + " is not available",
                         cannotAskBecause("pkcheck isn't installed. Install polkit (its package is often "
                                          "named polkitd or policykit-1), then try again."));
    if (process.exitStatus() != QProcess::NormalExit)
        return cannotAsk(program_ + " stopped without an answer",
                         cannotAskBecause("pkcheck stopped without an answer. Try again."));
    const int code = process.exitCode();
    const std::string exited = program_ + " exited with " + std::to_string(code);
    // pkcheck also ends with 126 when polkit can't be reached at all.
    const bool noAuthority = words.find("Error getting authority") != std::string::npos;
    switch (code) {
    case 0: return AdminAnswer::granted();
    case 1: // not allowed
    case 3: // the prompt was dismissed
        return AdminAnswer::refused();
    case 2: return cannotAsk(exited + " (no polkit authentication agent)", noAgentProblem());
    case 126:
        if (!noAuthority)
            return cannotAsk(exited + " (options it does not take)",
                             cannotAskBecause("this system's pkcheck doesn't take the options Wickerlane gives "
                                              "it. Updating polkit may help."));
        [[fallthrough]];
    case 127:
        return cannotAsk(exited + " (polkit could not check)",
                         cannotAskBecause("polkit isn't answering. Check that polkit is installed and its "
                                          "service, polkitd, is running, then try again."));
    default:
        return cannotAsk(exited,
                         cannotAskBecause("pkcheck gave an answer Wickerlane doesn't know (" + std::to_string(code) +
                                          "). Try again."));
    }
}

// ---- power management ----

DBusPowerManagement::DBusPowerManagement()
    : DBusPowerManagement(QDBusConnection::systemBus(), QDBusConnection::sessionBus())
{
}

DBusPowerManagement::DBusPowerManagement(QDBusConnection systemBus, QDBusConnection sessionBus)
    : system_(std::move(systemBus)), session_(std::move(sessionBus))
{
}

DBusPowerManagement::~DBusPowerManagement()
{
    stopWatchingPowerSource();
    while (!holds_.empty())
        allowIdleSleep(holds_.begin()->first);
}

std::optional<DBusPowerManagement::Hold> DBusPowerManagement::tryLogind(const std::string& name, std::string& why)
{
    const QString service = QStringLiteral("org.freedesktop.login1");
    if (!hasService(system_, service)) {
        why = "no logind";
        return std::nullopt;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/login1"),
                                       QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("idle") << QStringLiteral("Wickerlane") << QString::fromStdString(name)
         << QStringLiteral("block");
    QDBusMessage reply = system_.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        why = "logind: " + reply.errorMessage().toStdString();
        return std::nullopt;
    }
    auto descriptor = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
    if (!descriptor.isValid()) {
        why = "logind gave no inhibitor";
        return std::nullopt;
    }
    // The reply's descriptor closes with it; the inhibitor lasts while ours is open.
    int fd = ::dup(descriptor.fileDescriptor());
    if (fd < 0) {
        why = "logind's inhibitor could not be kept";
        return std::nullopt;
    }
    return Hold{Hold::Kind::logind, fd, 0};
}

std::optional<DBusPowerManagement::Hold> DBusPowerManagement::tryScreenSaver(const std::string& name, std::string& why)
{
    const QString service = QStringLiteral("org.freedesktop.ScreenSaver");
    if (!hasService(session_, service)) {
        why += "; no screen saver service";
        return std::nullopt;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/ScreenSaver"), service,
                                                       QStringLiteral("Inhibit"));
    call << QStringLiteral("Wickerlane") << QString::fromStdString(name);
    QDBusMessage reply = session_.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        why += "; screen saver: " + reply.errorMessage().toStdString();
        return std::nullopt;
    }
    return Hold{Hold::Kind::screenSaver, -1, reply.arguments().first().toUInt()};
}

std::optional<DBusPowerManagement::Hold> DBusPowerManagement::tryX11(std::string& why)
{
    if (!x11_)
        x11_ = XConnection::open();
    int event = 0, error = 0;
    if (!x11_ || !XScreenSaverQueryExtension(x11_->display(), &event, &error)) {
        why += "; no X screen saver extension";
        return std::nullopt;
    }
    XScreenSaverSuspend(x11_->display(), True);
    XFlush(x11_->display());
    return Hold{Hold::Kind::x11, -1, 0};
}

std::uint32_t DBusPowerManagement::preventIdleSleep(const std::string& name, std::string& error)
{
    assertMainThread("DBusPowerManagement::preventIdleSleep");
    std::string why;
    std::optional<Hold> hold = tryLogind(name, why);
    if (!hold)
        hold = tryScreenSaver(name, why);
    if (!hold)
        hold = tryX11(why);
    if (!hold) {
        error = why;
        return 0;
    }
    std::uint32_t handle = nextHandle_++;
    if (nextHandle_ == 0)
        nextHandle_ = 1;
    holds_[handle] = *hold;
    return handle;
}

void DBusPowerManagement::allowIdleSleep(std::uint32_t handle)
{
    assertMainThread("DBusPowerManagement::allowIdleSleep");
    auto it = holds_.find(handle);
    if (it == holds_.end())
        return;
    Hold hold = it->second;
    holds_.erase(it);
    switch (hold.kind) {
    case Hold::Kind::logind: ::close(hold.fd); break;
    case Hold::Kind::screenSaver: {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
            QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("UnInhibit"));
        call << hold.cookie;
        session_.call(call, QDBus::Block, kCallTimeoutMs);
        break;
    }
    case Hold::Kind::x11: {
        bool stillHeld = false;
        for (const auto& [other, h] : holds_)
            stillHeld = stillHeld || h.kind == Hold::Kind::x11;
        if (!stillHeld && x11_) {
            XScreenSaverSuspend(x11_->display(), False);
            XFlush(x11_->display());
        }
        break;
    }
    }
}

bool DBusPowerManagement::isOnACPower()
{
    const QString service = QStringLiteral("org.freedesktop.UPower");
    if (!hasService(system_, service))
        return true;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/UPower"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << service << QStringLiteral("OnBattery");
    QDBusMessage reply = system_.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return true;
    QVariant value = reply.arguments().first();
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    if (value.metaType() != QMetaType::fromType<bool>())
        return true;
    return !value.toBool();
}

void DBusPowerManagement::watchPowerSource(std::function<void()> changed)
{
    powerChanged_ = std::move(changed);
    if (watching_ || !system_.isConnected())
        return;
    watching_ = system_.connect(QStringLiteral("org.freedesktop.UPower"), QStringLiteral("/org/freedesktop/UPower"),
                                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"),
                                this, SLOT(powerPropertiesChanged(QString, QVariantMap, QStringList)));
}

void DBusPowerManagement::stopWatchingPowerSource()
{
    powerChanged_ = nullptr;
    if (!watching_)
        return;
    system_.disconnect(QStringLiteral("org.freedesktop.UPower"), QStringLiteral("/org/freedesktop/UPower"),
                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"), this,
                       SLOT(powerPropertiesChanged(QString, QVariantMap, QStringList)));
    watching_ = false;
}

void DBusPowerManagement::powerPropertiesChanged(const QString& interface, const QVariantMap&, const QStringList&)
{
    if (interface != QStringLiteral("org.freedesktop.UPower"))
        return;
    if (auto changed = powerChanged_)
        changed();
}

// ---- login item ----

namespace {
std::filesystem::path configFolder()
{
    if (const char* value = std::getenv("XDG_CONFIG_HOME"); value && *value == '/')
        return value;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".config";
    return std::filesystem::temp_directory_path();
}

// Desktop entry values escape backslashes, spaces and a few more in Exec.
std::string quotedExec(const std::string& path)
{
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += "\\\\";
        out += c;
    }
    return out + "\"";
}
} // namespace

std::filesystem::path applicationEntryPath()
{
    std::filesystem::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        data = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        data = std::filesystem::path(home) / ".local" / "share";
    else
        return {};
    return data / "applications" / (std::string(kApplicationID) + ".desktop");
}

bool refreshApplicationEntry(const std::filesystem::path& entry, const std::string& programPath)
{
    if (entry.empty() || programPath.empty())
        return false;
    const std::string exec = "Exec=" + quotedExec(programPath);
    {
        std::ifstream in(entry);
        for (std::string line; in && std::getline(in, line);)
            if (line == exec)
                return true;
    }
    std::error_code failure;
    std::filesystem::create_directories(entry.parent_path(), failure);
    const auto temporary = entry.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "[Desktop Entry]\n"
            << "Type=Application\n"
            << "Name=Wickerlane\n"
            << "Comment=Help and be helped with a computer\n"
            << exec << "\n"
            << "Terminal=false\n"
            << "Categories=Network;RemoteAccess;\n";
        if (!out.flush()) {
            Log::line("Wickerlane: could not write the application entry " + temporary);
            return false;
        }
    }
    std::filesystem::rename(temporary, entry, failure);
    if (failure) {
        Log::line("Wickerlane: could not write the application entry " + entry.string() + ": " + failure.message());
        std::filesystem::remove(temporary, failure);
        return false;
    }
    return true;
}

XdgLoginItem::XdgLoginItem() : entry_(defaultEntry()) { }

std::filesystem::path XdgLoginItem::defaultEntry()
{
    return configFolder() / "autostart" / (std::string(kApplicationID) + ".desktop");
}

bool XdgLoginItem::isEnabled()
{
    std::ifstream in(entry_);
    if (!in)
        return false;
    std::string line;
    bool inEntry = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (inEntry && line.rfind("Hidden", 0) == 0) {
            auto eq = line.find('=');
            if (eq == std::string::npos)
                continue;
            std::string key = line.substr(0, eq), value = line.substr(eq + 1);
            while (!key.empty() && key.back() == ' ')
                key.pop_back();
            while (!value.empty() && value.front() == ' ')
                value.erase(value.begin());
            if (key == "Hidden" && value == "true")
                return false;
        }
    }
    return true;
}

bool XdgLoginItem::setEnabled(bool enabled, const std::string& programPath, std::string& error)
{
    std::error_code failure;
    if (!enabled) {
        std::filesystem::remove(entry_, failure);
        if (failure) {
            error = failure.message();
            return false;
        }
        return true;
    }
    std::filesystem::create_directories(entry_.parent_path(), failure);
    if (failure) {
        error = failure.message();
        return false;
    }
    const auto temporary = entry_.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "[Desktop Entry]\n"
            << "Type=Application\n"
            << "Name=Wickerlane\n"
            << "Comment=Help and be helped with a computer\n"
            << "Exec=" << quotedExec(programPath) << "\n"
            << "Terminal=false\n"
            << "X-GNOME-Autostart-enabled=true\n";
        if (!out.flush()) {
            error = "could not write " + temporary;
            return false;
        }
    }
    std::filesystem::rename(temporary, entry_, failure);
    if (failure) {
        error = failure.message();
        std::filesystem::remove(temporary, failure);
        return false;
    }
    return true;
}

std::string XdgLoginItem::programPath()
{
    std::error_code failure;
    auto path = std::filesystem::read_symlink("/proc/self/exe", failure);
    return failure ? std::string() : path.string();
}

// ---- permissions ----

bool X11Permissions::canRecordScreen()
{
    auto x = XConnection::open();
    if (!x)
        return false;
    XImage* image = XGetImage(x->display(), x->root(), 0, 0, 1, 1, AllPlanes, ZPixmap);
    bool readable = image != nullptr;
    if (image)
        XDestroyImage(image);
    x->sync();
    return readable;
}

bool X11Permissions::canControl()
{
    auto x = XConnection::open();
    if (!x)
        return false;
    int event = 0, error = 0, major = 0, minor = 0;
    return XTestQueryExtension(x->display(), &event, &error, &major, &minor);
}

void X11Permissions::requestControl()
{
    Log::line("Wickerlane: posting input needs the X server's XTest extension; there is nothing to allow on X11");
}

// ---- workspace ----

bool DesktopWorkspace::openFile(const std::string& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

} // namespace wl
