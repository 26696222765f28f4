#pragma once
// unplotd's settings and the command line that sets them.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace unplot::server {

struct ConnectionLimits {
    unsigned threads = 32;          // connections served at once; further ones wait for a thread
    std::size_t maxWaiting = 1024;  // accepted connections waiting for a thread; beyond, new ones are closed
    // Time spent waiting on a client is counted from its last progress (a request's headers read, or 64 KiB of
    // its body or of the reply moved). A client that has kept us waiting slowAfter is slow; at most maxSlow
    // connections may be slow at once (a further one is closed), and none may keep us waiting stallLimit.
    unsigned maxSlow = 8;
    std::chrono::milliseconds slowAfter{2000};
    std::chrono::milliseconds stallLimit{15000};
    std::chrono::milliseconds idle{5000};  // a kept-alive connection without a new request is closed
    std::size_t requestsPerConnection = 100;
};

struct ServerConfig {
    std::string host = "127.0.0.1";
    int port = 8040;                              // 0: any free port
    std::filesystem::path dataDir;                // database, uploads (jobs/) and results (results/)
    unsigned workers = 1;                         // conversions at the same time
    unsigned threadsPerJob = 1;                   // the engine's --threads: pages of one job converted at once
    std::size_t maxUploadBytes = 256u << 20;      // largest PDF accepted
    std::chrono::seconds jobTime{120};            // wall-clock limit of one conversion
    std::size_t jobMemoryBytes = std::size_t{2048} << 20;  // address-space limit of one conversion
    std::chrono::hours keep{24};                  // results and uploads are deleted this long after the job ended
    std::filesystem::path engine;                 // the unplot-engine executable
    std::size_t maxQueue = 100;                   // waiting jobs at most; more uploads are refused
    std::chrono::seconds infoTime{20};            // limit of the page count probe run at upload
    std::chrono::seconds sweepInterval{600};      // how often expired jobs are looked for
    // DWG output; an operator may refuse it (--no-dwg), for instance to keep jobs small.
    bool enableDwg = true;
    // Text drawn as strokes stays strokes (--keep-strokes): the engine's text recovery is switched off.
    bool keepStrokes = false;
    ConnectionLimits connections;
    // Jobs in PostgreSQL, shared by every node on it (--database URI); empty: SQLite in the data folder.
    std::string database;
    std::chrono::seconds lease{30};  // a claimed job's lease, renewed every third of it while it converts
};

// Defaults that depend on the machine: data folder from XDG_DATA_HOME or HOME, the cores this process may use
// shared between jobs and pages (workers x threads per job <= cores), the engine beside the running executable.
ServerConfig defaultConfig();

struct CommandLine {
    std::optional<ServerConfig> config;  // set when the server should run
    std::string output;                  // --help text or the error, for the caller to print
    int exitCode = 0;                    // when config is empty: 0 after --help, 2 after an error
};
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string usageText();

}  // namespace unplot::server
