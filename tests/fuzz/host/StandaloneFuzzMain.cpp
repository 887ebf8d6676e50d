// The driver of a fuzz target built without libFuzzer (the program's own compiler is
// gcc, which has no coverage-guided fuzzing): it runs every input file given (folders
// are read file by file), then, for -max_total_time seconds or -runs inputs, variants
// made by mutating them (bytes flipped, inserted, removed, repeated, spliced). The flags
// libFuzzer takes and this driver does not need are accepted and ignored. An input that
// ends the process is written to crash-<pid> in the working folder first.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::uint8_t> current;

void writeCrash(int signal)
{
    char name[64];
    std::snprintf(name, sizeof name, "crash-%d", static_cast<int>(::getpid()));
    int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
        [[maybe_unused]] auto written = ::write(fd, current.data(), current.size());
        ::close(fd);
    }
    const char note[] = "fuzz: the input that ended the process was written to crash-<pid>\n";
    [[maybe_unused]] auto noted = ::write(2, note, sizeof note - 1);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void run(const std::vector<std::uint8_t>& input)
{
    current = input;
    LLVMFuzzerTestOneInput(current.data(), current.size());
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> mutate(const std::vector<std::vector<std::uint8_t>>& pool, std::mt19937& random)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> out;
    if (!pool.empty() && random() % 8 != 0)
        out = pool[random() % pool.size()];
    int edits = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < edits; ++i) {
        std::size_t at = out.empty() ? 0 : random() % (out.size() + 1);
        switch (random() % 6) {
        case 0:
            if (!out.empty())
                out[std::min(at, out.size() - 1)] ^= static_cast<std::uint8_t>(1u << (random() % 8));
            break;
        case 1:
            for (int n = 1 + static_cast<int>(random() % 8); n > 0; --n)
                out.insert(out.begin() + static_cast<long>(std::min(at, out.size())),
                           static_cast<std::uint8_t>(byte(random)));
            break;
        case 2:
            if (!out.empty()) {
                std::size_t from = std::min(at, out.size() - 1);
                std::size_t length = std::min<std::size_t>(1 + random() % 16, out.size() - from);
                out.erase(out.begin() + static_cast<long>(from), out.begin() + static_cast<long>(from + length));
            }
            break;
        case 3:
            if (!out.empty()) {
                std::size_t from = random() % out.size();
                std::size_t length = std::min<std::size_t>(1 + random() % 16, out.size() - from);
                std::vector<std::uint8_t> piece(out.begin() + static_cast<long>(from),
                                                out.begin() + static_cast<long>(from + length));
                out.insert(out.begin() + static_cast<long>(std::min(at, out.size())), piece.begin(), piece.end());
            }
            break;
        case 4:
            if (!pool.empty()) {
                const auto& other = pool[random() % pool.size()];
                if (!other.empty()) {
                    std::size_t from = random() % other.size();
                    out.insert(out.end(), other.begin() + static_cast<long>(from), other.end());
                }
            }
            break;
        default:
            if (!out.empty())
                out[std::min(at, out.size() - 1)] = static_cast<std::uint8_t>(byte(random));
        }
        if (out.size() > 1024)
            out.resize(1024);
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 0;
    long runs = -1;
    unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::vector<std::vector<std::uint8_t>> pool;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("-max_total_time=", 0) == 0)
            seconds = std::atof(arg.c_str() + 16);
        else if (arg.rfind("-runs=", 0) == 0)
            runs = std::atol(arg.c_str() + 6);
        else if (arg.rfind("-seed=", 0) == 0)
            seed = static_cast<unsigned>(std::atol(arg.c_str() + 6));
        else if (!arg.empty() && arg[0] == '-')
            continue; // a libFuzzer flag this driver has no use for
        else if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg))
                if (entry.is_regular_file())
                    pool.push_back(readFile(entry.path()));
        } else if (std::filesystem::is_regular_file(arg)) {
            pool.push_back(readFile(arg));
        }
    }
    for (int signal : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        std::signal(signal, writeCrash);

    for (const auto& input : pool)
        run(input);
    std::mt19937 random(seed);
    long done = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while ((runs >= 0 && done < runs) || (runs < 0 && std::chrono::steady_clock::now() < deadline)) {
        run(mutate(pool, random));
        ++done;
    }
    std::fprintf(stderr, "fuzz: %zu given inputs and %ld variants (seed %u), no failure\n", pool.size(), done, seed);
    return 0;
}
