#include "platform/linux/FileKeyStore.h"

#include "platform/Log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wl {

namespace {

bool validItemName(const std::string& item)
{
    if (item.empty() || item.size() > 200 || item[0] == '.')
        return false;
    for (char c : item) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
            c == '_';
        if (!ok)
            return false;
    }
    return true;
}

bool ensureFolder(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return false;
    // Only the owner may list or enter the folder.
    return ::chmod(folder.c_str(), 0700) == 0;
}

bool writeAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

FileKeyStore::FileKeyStore(std::filesystem::path folder) : folder_(std::move(folder)) { }

std::filesystem::path FileKeyStore::defaultFolder()
{
    std::filesystem::path base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        base = data;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".local" / "share";
    else
        base = std::filesystem::temp_directory_path();
    return base / "Wickerlane" / "identity";
}

KeyStore::ReadStatus FileKeyStore::read(const std::string& item, std::string& bytes)
{
    if (!validItemName(item))
        return ReadStatus::failed;
    std::lock_guard guard(lock_);
    std::filesystem::path path = folder_ / item;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadStatus::notFound;
        Log::line("Wickerlane: cannot read key file " + path.string() + ": " + std::strerror(errno));
        return ReadStatus::failed;
    }
    std::string result;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Log::line("Wickerlane: cannot read key file " + path.string() + ": " + std::strerror(errno));
            ::close(fd);
            return ReadStatus::failed;
        }
        if (n == 0)
            break;
        result.append(buffer, static_cast<std::size_t>(n));
        if (result.size() > (1u << 20)) {
            ::close(fd);
            return ReadStatus::failed;
        }
    }
    ::close(fd);
    bytes = std::move(result);
    return ReadStatus::found;
}

bool FileKeyStore::write(const std::string& item, const std::string& bytes)
{
    if (!validItemName(item))
        return false;
    std::lock_guard guard(lock_);
    if (!ensureFolder(folder_)) {
        Log::line("Wickerlane: cannot create the key folder " + folder_.string());
        return false;
    }
    // Write a new file beside the old one, then move it over: a crash never leaves a
    // half-written key behind.
    std::filesystem::path path = folder_ / item;
    std::filesystem::path temp = folder_ / ("." + item + ".new");
    ::unlink(temp.c_str());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        Log::line("Wickerlane: cannot write key file " + temp.string() + ": " + std::strerror(errno));
        return false;
    }
    bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        Log::line("Wickerlane: cannot write key file " + path.string() + ": " + std::strerror(errno));
        ::unlink(temp.c_str());
    }
    return ok;
}

bool FileKeyStore::remove(const std::string& item)
{
    if (!validItemName(item))
        return false;
    std::lock_guard guard(lock_);
    std::filesystem::path path = folder_ / item;
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

} // namespace wl
