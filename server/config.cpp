#include "config.h"

#include <sched.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <functional>
#include <map>
#include <thread>
#include <version.h>

namespace unplot::server {

namespace fs = std::filesystem;

static unsigned usableCores()
{
    cpu_set_t cpus;
    return sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? static_cast<unsigned>(CPU_COUNT(&cpus))
                                                          : std::max(1u, std::thread::hardware_concurrency());
}

ServerConfig defaultConfig()
{
    ServerConfig config;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        config.dataDir = fs::path(xdg) / "unplot";
    else if (const char* home = std::getenv("HOME"); home && *home)
        config.dataDir = fs::path(home) / ".local" / "share" / "unplot";
    else
        config.dataDir = fs::current_path() / "unplot-data";
    // Half the cores for jobs side by side, the other factor for the pages of each (threads per job are settled
    // once the workers are known): 2 cores give one job on two threads, 8 give four jobs on two threads each.
    config.workers = std::max(1u, usableCores() / 2);
    config.threadsPerJob = 0;
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    config.engine = (ec ? fs::current_path() : self.parent_path()) / "unplot-engine";
    return config;
}

std::string usageText()
{
    return "Usage: unplotd [options]\n"
           "The unplot conversion service: takes PDF uploads over HTTP and converts them with unplot-engine.\n"
           "\n"
           "  --listen ADDR:PORT    address to listen on (default 127.0.0.1:8040; port 0 picks a free port)\n"
           "  --data DIR            data folder: job database, uploads, results\n"
           "                        (default $XDG_DATA_HOME/unplot, else ~/.local/share/unplot)\n"
           "  --workers N           conversions at the same time (default: half the cores this process may use)\n"
           "  --threads-per-job N   pages of one conversion converted at once (default: the cores divided among\n"
           "                        the workers, so that workers x threads stays within the cores)\n"
           "  --max-upload-mb N     largest PDF accepted, in MiB (default 256)\n"
           "  --job-seconds N       time limit of one conversion in the engine, in seconds (default 120); a job\n"
           "                        that runs longer fails with status 32. Not the client's budget: the app and\n"
           "                        'unplot convert' give up on a job after 600 s in all (upload, queue, conversion)\n"
           "  --job-memory-mb N     memory limit of one conversion, in MiB (default 2048)\n"
           "  --keep-hours N        delete uploads and results this long after a job ended (default 24)\n"
           "  --max-queue N         waiting jobs at most; further uploads are refused (default 100)\n"
           "  --engine PATH         the conversion engine (default: unplot-engine beside unplotd)\n"
           "  --database URI        keep jobs, uploads and results in PostgreSQL (postgresql://USER@HOST:PORT/DB),\n"
           "                        shared by every unplotd on it (default: SQLite in the data folder)\n"
           "  --lease-seconds N     with --database: a node that stops renewing a job's claim for this long\n"
           "                        (it died) loses the job to another node (default 30)\n"
           "  --no-dwg              refuse DWG output (DXF only)\n"
           "  --keep-strokes        leave text drawn as strokes as strokes (no text recovery)\n"
           "  --help                show this text\n"
           "  --version             show the version and the commit it was built from\n"
           "\n"
           "The log (one line per request and per job state change) goes to standard error; under systemd,\n"
           "'journalctl -u unplotd' shows it.\n";
}

static std::optional<long long> parseNumber(const std::string& text, long long min, long long max)
{
    long long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return std::nullopt;
    return value;
}

static bool parseListen(const std::string& text, ServerConfig& config)
{
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    auto port = parseNumber(text.substr(colon + 1), 0, 65535);
    if (!port || host.empty())
        return false;
    config.host = host;
    config.port = static_cast<int>(*port);
    return true;
}

CommandLine parseCommandLine(const std::vector<std::string>& args)
{
    ServerConfig config = defaultConfig();
    auto error = [](std::string message) {
        return CommandLine{std::nullopt, "unplotd: " + message + "\nTry 'unplotd --help'.\n", 2};
    };
    using Setter = std::function<bool(const std::string&)>;
    auto number = [&](long long min, long long max, std::function<void(long long)> set) -> Setter {
        return [=](const std::string& v) {
            auto n = parseNumber(v, min, max);
            if (n)
                set(*n);
            return n.has_value();
        };
    };
    const std::map<std::string, Setter> withValue = {
        {"--listen", [&](const std::string& v) { return parseListen(v, config); }},
        {"--data", [&](const std::string& v) { return !v.empty() && (config.dataDir = fs::absolute(v), true); }},
        {"--engine", [&](const std::string& v) { return !v.empty() && (config.engine = fs::absolute(v), true); }},
        {"--database", [&](const std::string& v) {
             return (v.rfind("postgresql://", 0) == 0 || v.rfind("postgres://", 0) == 0) && (config.database = v, true);
         }},
        {"--workers", number(1, 256, [&](long long n) { config.workers = static_cast<unsigned>(n); })},
        {"--threads-per-job", number(1, 256, [&](long long n) { config.threadsPerJob = static_cast<unsigned>(n); })},
        {"--max-upload-mb", number(1, 1 << 20, [&](long long n) { config.maxUploadBytes = static_cast<std::size_t>(n) << 20; })},
        {"--job-seconds", number(1, 7 * 24 * 3600, [&](long long n) { config.jobTime = std::chrono::seconds(n); })},
        {"--job-memory-mb", number(16, 1 << 24, [&](long long n) { config.jobMemoryBytes = static_cast<std::size_t>(n) << 20; })},
        {"--keep-hours", number(1, 24 * 365, [&](long long n) { config.keep = std::chrono::hours(n); })},
        {"--max-queue", number(1, 1000000, [&](long long n) { config.maxQueue = static_cast<std::size_t>(n); })},
        {"--lease-seconds", number(2, 3600, [&](long long n) { config.lease = std::chrono::seconds(n); })},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        bool inlineValue = false;
        if (std::size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        if (name == "--help" || name == "-h")
            return CommandLine{std::nullopt, usageText(), 0};
        if (name == "--version")
            return CommandLine{std::nullopt, versionText("unplotd"), 0};
        if (name == "--no-dwg" && !inlineValue) {
            config.enableDwg = false;
            continue;
        }
        if (name == "--keep-strokes" && !inlineValue) {
            config.keepStrokes = true;
            continue;
        }
        auto it = withValue.find(name);
        if (it == withValue.end())
            return error("unknown option '" + args[i] + "'");
        if (!inlineValue) {
            if (i + 1 >= args.size())
                return error("option '" + name + "' needs a value");
            value = args[++i];
        }
        if (!it->second(value))
            return error("invalid value '" + value + "' for " + name);
    }
    if (config.threadsPerJob == 0)
        config.threadsPerJob = std::max(1u, usableCores() / config.workers);
    return CommandLine{config, {}, 0};
}

}  // namespace unplot::server
