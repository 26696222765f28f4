#pragma once
// A PostgreSQL server of the tests' own: initdb and pg_ctl (Debian's postgresql) into a temporary folder, on a free
// port of 127.0.0.1, started at first use and stopped at exit. initdb refuses to run as root: then the server runs
// as the user nobody. When it cannot start, uri() is empty and why() says why.

#include <pwd.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace unplot::server::test {

class Postgres {
public:
    static Postgres& instance()
    {
        static Postgres server;
        return server;
    }
    const std::string& uri() const { return uri_; }
    const std::string& why() const { return why_; }

private:
    Postgres()
    {
        std::string bin;
        for (int version = 20; version >= 12 && bin.empty(); --version)
            if (std::filesystem::exists("/usr/lib/postgresql/" + std::to_string(version) + "/bin/pg_ctl"))
                bin = "/usr/lib/postgresql/" + std::to_string(version) + "/bin/";
        std::string pattern = "/tmp/unplot-pg-XXXXXX";
        if (bin.empty() || !mkdtemp(pattern.data())) {
            why_ = "PostgreSQL's initdb and pg_ctl are not installed (Debian package postgresql)";
            return;
        }
        dir_ = pattern;
        if (getuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (!nobody || chown(dir_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
                why_ = "cannot give " + dir_ + " to the user nobody";
                return;
            }
            as_ = "runuser -u nobody -- ";
        }
        const int port = freePort();
        control_ = as_ + bin + "pg_ctl -s -D " + dir_ + "/data ";
        if (std::system((as_ + bin + "initdb -A trust -U unplot -E UTF8 --no-sync -D " + dir_ + "/data >" + dir_ +
                         "/initdb.log 2>&1").c_str()) != 0 ||
            std::system((control_ + "-w -l " + dir_ + "/server.log -o '-c listen_addresses=127.0.0.1 -p " +
                         std::to_string(port) + " -k " + dir_ + " -c fsync=off -c max_connections=200' start")
                            .c_str()) != 0) {
            why_ = "PostgreSQL did not start; see " + dir_ + "/initdb.log and server.log";
            return;
        }
        uri_ = "postgresql://unplot@127.0.0.1:" + std::to_string(port) + "/postgres";
    }
    ~Postgres()
    {
        if (uri_.empty())
            return;  // a server that did not start leaves its folder for a look
        if (std::system((control_ + "-m immediate stop").c_str()) == 0)
            std::filesystem::remove_all(dir_);
    }
    static int freePort()
    {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        ::close(fd);
        return ntohs(address.sin_port);
    }

    std::string dir_, as_, control_, uri_, why_;
};

}  // namespace unplot::server::test
