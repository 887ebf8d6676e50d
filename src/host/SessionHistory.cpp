#include "host/SessionHistory.h"

#include "platform/Log.h"
#include "platform/ShownText.h"
#include "platform/SystemServices.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace wl {

namespace {

std::string timeStamp()
{
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

} // namespace

std::filesystem::path sessionHistoryPath()
{
    std::filesystem::path state;
    if (const char* value = std::getenv("XDG_STATE_HOME"); value && *value == '/')
        state = value;
    else if (const char* home = std::getenv("HOME"); home && *home)
        state = std::filesystem::path(home) / ".local" / "state";
    else
        state = std::filesystem::temp_directory_path();
    return state / "Wickerlane Host" / "Session History.log";
}

void appendSessionHistory(const std::string& text)
{
    const auto path = sessionHistoryPath();
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
        Log::line("Wickerlane: could not write session history: " + error.message());
        return;
    }
    // One line each, whatever names or texts from other machines it holds.
    const std::string line = timeStamp() + "  " + shownText(text, kShownNoteLength) + "\n";
    // Appending, never rewriting: each line goes out in one write at the end of the file.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        Log::line("Wickerlane: could not write session history: " + std::string(std::strerror(errno)));
        return;
    }
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            Log::line("Wickerlane: could not write session history: " + std::string(std::strerror(errno)));
            break;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    ::close(fd);
}

void openSessionHistory(Workspace& workspace)
{
    const auto path = sessionHistoryPath();
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        appendSessionHistory("Session history started");
    if (!workspace.openFile(path.string()))
        Log::line("Wickerlane: could not open the session history");
}

} // namespace wl
