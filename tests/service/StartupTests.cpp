// Start-up: the service refuses to run on a database it can't trust or write, saying which
// file and why, and never on one that another instance uses.

#include "ServiceTestKit.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace wl::test {
namespace {

namespace fs = std::filesystem;

struct Run {
    int exitCode = -1; // -1: still running after the time limit (killed)
    std::string output;
};

struct RunOptions {
    std::vector<std::string> unset; // environment variables taken away
    long fileSizeLimit = -1; // RLIMIT_FSIZE in bytes (SIGXFSZ ignored), -1: none
};

// Runs the service binary with these arguments until it exits (at most 10 s).
Run runService(const std::vector<std::string>& arguments, const RunOptions& options = {})
{
    std::vector<std::string> all = {ServiceProcess::binaryPath()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        bool drop = false;
        for (const auto& name : options.unset)
            drop = drop || text.rfind(name + "=", 0) == 0;
        if (!drop)
            environment.push_back(text);
    }
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    // The output comes through a pipe: a limit on file sizes doesn't touch it.
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        if (options.fileSizeLimit >= 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ::close(pipeFds[1]);
    fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    Run run;
    auto drain = [&] {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
            run.output.append(buffer, static_cast<std::size_t>(n));
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        drain();
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    drain();
    ::close(pipeFds[0]);
    if (status != -1 && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}

std::vector<std::string> on(const std::string& database)
{
    return {"--listen", "127.0.0.1", "--port", "0", "--db", database};
}

// Makes a database the way the service does (started and stopped once, a mail stored).
void makeDatabase(const std::string& path)
{
    ServiceProcess service({"--db", path});
    ASSERT_TRUE(service.start()) << service.log();
    TestDevice device;
    ASSERT_EQ(ServiceProcess::httpRequest(service.port(), "PUT", device.keysTarget(), device.keyRecordJson()), 200);
    service.stop();
}

TEST(ServiceStartup, RefusesADatabaseItCannotCreateOrOpen)
{
    TempDir dir;
    // The folder can't be made: a file stands where it should be.
    auto blocker = dir.path() / "not-a-folder";
    std::ofstream(blocker) << "x";
    auto path = (blocker / "service.sqlite").string();
    auto run = runService(on(path));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("database " + path), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("not starting: cannot create the folder " + blocker.string()), std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("listening"), std::string::npos);

    // A folder where the file should be.
    fs::create_directory(dir.path() / "folder.sqlite");
    run = runService(on((dir.path() / "folder.sqlite").string()));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("is a folder, not a file"), std::string::npos) << run.output;

    // Something that is not a database at all.
    auto garbage = (dir.path() / "garbage.sqlite").string();
    std::ofstream(garbage) << std::string(8192, 'g');
    run = runService(on(garbage));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("the database " + garbage + " is not a database file"), std::string::npos) << run.output;
}

TEST(ServiceStartup, RefusesADamagedDatabase)
{
    TempDir dir;
    auto path = (dir.path() / "service.sqlite").string();
    makeDatabase(path);
    ASSERT_FALSE(fs::exists(path + "-wal") && fs::file_size(path + "-wal") > 0) << "not checkpointed";
    auto size = fs::file_size(path);
    ASSERT_GE(size, 4u * 4096);
    // Scribble over the b-tree page headers after the first page.
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        for (std::uintmax_t page = 1; page * 4096 < size; ++page) {
            file.seekp(static_cast<std::streamoff>(page * 4096));
            file.write("\x0d\xff\xff\xff\xff\xff\xff\xff", 8);
        }
    }
    auto run = runService(on(path));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    bool named = run.output.find("the database " + path + " failed its integrity check") != std::string::npos ||
        run.output.find("the database " + path + " is damaged") != std::string::npos;
    EXPECT_TRUE(named) << run.output;
    EXPECT_EQ(run.output.find("listening"), std::string::npos);
}

TEST(ServiceStartup, RefusesADatabaseItCannotWrite)
{
    TempDir dir;
    auto path = (dir.path() / "service.sqlite").string();
    makeDatabase(path);
    // No file may grow (as on a full disk): its write-ahead log can't take the first write.
    RunOptions options;
    options.fileSizeLimit = 0;
    auto run = runService(on(path), options);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("not starting: cannot write the database " + path), std::string::npos) << run.output;

    if (geteuid() != 0) {
        // A read-only file and folder (root may write them anyway).
        fs::permissions(path, fs::perms::owner_read);
        fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
        run = runService(on(path));
        fs::permissions(dir.path(), fs::perms::owner_all);
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_NE(run.output.find(path), std::string::npos) << run.output;
    }
}

TEST(ServiceStartup, OneInstancePerDatabase)
{
    TempDir dir;
    auto path = (dir.path() / "service.sqlite").string();
    ServiceProcess first({"--db", path});
    ASSERT_TRUE(first.start()) << first.log();
    auto run = runService(on(path));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("the database " + path + " is in use by another process"), std::string::npos)
        << run.output;
    // The first goes on serving; once it is gone (even killed), the database is free.
    EXPECT_EQ(ServiceProcess::httpRequest(first.port(), "GET", "/v1/status/" + std::string(64, '0')), 200);
    first.kill9();
    ServiceProcess second({"--db", path});
    EXPECT_TRUE(second.start()) << second.log();
}

TEST(ServiceStartup, NeedsADatabasePathWithoutHome)
{
    auto run = runService({"--listen", "127.0.0.1", "--port", "0"}, RunOptions{{"HOME", "XDG_DATA_HOME"}});
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_NE(run.output.find("neither XDG_DATA_HOME nor HOME is set; give --db PATH"), std::string::npos)
        << run.output;
    EXPECT_FALSE(fs::exists("wickerlane-introduction/service.sqlite"));
}

TEST(ServiceStartup, LogsTheDatabaseItUses)
{
    TempDir dir;
    auto path = (dir.path() / "data" / "service.sqlite").string();
    ServiceProcess service({"--db", path});
    ASSERT_TRUE(service.start()) << service.log();
    EXPECT_NE(service.log().find("wickerlane-introduction: database " + path + "\n"), std::string::npos)
        << service.log();
}

} // namespace
} // namespace wl::test
