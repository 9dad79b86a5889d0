#pragma once
// A Firebird server of the test's own (the installed one, on a free port, with its own
// configuration, lock folder and copy of the user database), so that a test can stop and restart
// it, or hold locks in it from a second process, without touching any other server. Without the
// installed server or the SYSDBA password the test is skipped, saying why; in CI (CI=true) that
// is a failure.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>

#include <filesystem>

#include "RunToolSupport.h"
#include "tests/support/LocalServer.h"
#include "tests/support/ServerPassword.h"

namespace tarvolen::testing {

namespace fs = std::filesystem;

constexpr const char* kServer = "/usr/sbin/firebird";
// The installed server's own folder (plugins, messages, character sets) and its user database.
constexpr const char* kServerRoot = "/usr/lib/x86_64-linux-gnu/firebird/3.0";
constexpr const char* kUserDatabase = "/var/lib/firebird/3.0/system/security3.fdb";

using database::testing::serverAnswers;
using database::testing::sysdbaPassword;

// A port nobody listens on now.
inline int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// A Firebird server of the test's own, started and stopped by it.
class PrivateServer {
  public:
    explicit PrivateServer(const fs::path& folder) : m_root(folder / "server") {
        fs::create_directories(m_root / "lock");
        for (const auto& entry : fs::directory_iterator(kServerRoot)) {
            if (entry.path().filename() != "firebird.conf")
                fs::create_symlink(entry.path(), m_root / entry.path().filename());
        }
        fs::copy_file(kUserDatabase, m_root / "security3.fdb");
        m_port = freePort();
        std::ofstream(m_root / "firebird.conf")
            << "RemoteServicePort = " << m_port << "\nRemoteBindAddress = 127.0.0.1\n"
            << "SecurityDatabase = " << (m_root / "security3.fdb").string() << "\n";
    }
    ~PrivateServer() { stop(SIGKILL); }
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    int port() const { return m_port; }
    // Starts the server and waits until it answers; false when it does not within 30 s.
    bool start() {
        const std::string root = "FIREBIRD=" + m_root.string();
        const std::string lock = "FIREBIRD_LOCK=" + (m_root / "lock").string();
        std::vector<char*> env = {const_cast<char*>(root.c_str()), const_cast<char*>(lock.c_str()),
                                  nullptr};
        char* argv[] = {const_cast<char*>(kServer), nullptr};
        m_pid = ::fork();
        if (m_pid == 0) {
            // A test killed midway takes its server with it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::execve(kServer, argv, env.data());
            ::_exit(127);
        }
        if (m_pid < 0) return false;
        for (int i = 0; i < 300; ++i) {
            if (serverAnswers(m_port)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    // Stops the server it started, by its process id, and waits for it to end. A server that
    // has not ended 15 s after SIGTERM (it sometimes hangs in its own shutdown) is killed.
    void stop(int signal) {
        if (m_pid <= 0) return;
        ::kill(m_pid, signal);
        for (int i = 0; i < 1500 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (i == 1499) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
            }
        }
        m_pid = -1;
    }

  private:
    fs::path m_root;
    int m_port = 0;
    pid_t m_pid = -1;
};

class PrivateServerTest : public RunTool {
  protected:
    void SetUp() override {
        std::string why;
        m_password = sysdbaPassword();
        if (!fs::exists(kServer) || !fs::exists(fs::path(kServerRoot) / "plugins"))
            why = std::string(kServer) + " is missing (package firebird3.0-server)";
        else if (!fs::exists(kUserDatabase) || m_password.empty())
            why =
                "the server's user database or the SYSDBA password cannot be read (run as root, "
                "or set TARVOLEN_FB_SYSDBA_PASSWORD)";
        if (!why.empty()) {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") FAIL() << why;
            GTEST_SKIP() << why;
        }
        RunTool::SetUp();
        m_server = std::make_unique<PrivateServer>(m_db.folder());
        ASSERT_TRUE(m_server->start()) << "the test's own Firebird server did not start";
        // Without a character set: the test's server has its own folder, where the installed
        // character set module is not looked for.
        writeFile("aliases.ini", "[remote]\nDatabase = 127.0.0.1/" +
                                     std::to_string(m_server->port()) + ":" + path("remote.fdb") +
                                     "\nCharset = NONE\n");
        writeFile("password", m_password + "\n");
        ::chmod(path("password").c_str(), 0600);
        auto c = connect(true);
        c->execute(
            "create table SYSDBVER (MAJOR_VERSION integer, MINOR_VERSION integer, RELEASE_VERSION "
            "integer, BUILD integer, APPID varchar(3))");
        c->execute("insert into SYSDBVER values (1, 0, 0, 0, 'QLM')");
        c->execute("create table T (N integer, S varchar(10))");
    }
    void TearDown() override {
        if (m_server) {
            m_server->stop(SIGKILL);
            m_server.reset();
        }
    }
    std::unique_ptr<database::Connection> connect(bool create = false) const {
        auto c = std::make_unique<database::Connection>("check");
        c->setAliasConfig(std::make_shared<database::AliasConfig>(database::AliasConfig::parse(
            readWholeFile(path("aliases.ini")), m_db.folder() / "aliases.ini")));
        c->setAliasName("remote");
        c->params().setValue("USER NAME", "SYSDBA");
        c->params().setValue("PASSWORD", m_password);
        if (create)
            c->createDatabase();
        else
            c->open();
        return c;
    }
    std::string remoteText(const std::string& sql) const {
        return database::testing::selectText(*connect(), sql);
    }
    int64_t remoteCount(const std::string& sql) const {
        return database::testing::selectCount(*connect(), sql);
    }

    std::string m_password;
    std::unique_ptr<PrivateServer> m_server;
};

}  // namespace tarvolen::testing
