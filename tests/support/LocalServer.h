#pragma once
// The local Firebird server that scripts/firebird-server starts (port 3050), for tests that need
// a server rather than the embedded engine: whether it answers, the SYSDBA password, and why a
// test cannot run. Outside CI such a test is skipped, saying why; in CI (CI=true) it fails.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "tests/support/ServerPassword.h"

namespace tarvolen::database::testing {

constexpr int kLocalServerPort = 3050;

// Whether something accepts connections on 127.0.0.1:`port`, within three seconds.
inline bool serverAnswers(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    fcntl(fd, F_SETFL, O_NONBLOCK);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    bool answered = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (!answered && errno == EINPROGRESS) {
        pollfd wait{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        answered = poll(&wait, 1, 3000) == 1 &&
                   getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    close(fd);
    return answered;
}

inline bool localServerAnswers() {
    return serverAnswers(kLocalServerPort);
}

// Why a test on the local server cannot run; empty when it can.
inline std::string localServerMissing(const std::string& password) {
    if (!localServerAnswers())
        return "no Firebird server answers on 127.0.0.1:3050 (start one with "
               "scripts/firebird-server start)";
    if (password.empty())
        return "the SYSDBA password is unknown (set TARVOLEN_FB_SYSDBA_PASSWORD, or run where "
               "/etc/firebird/3.0/SYSDBA.password is readable)";
    return {};
}

}  // namespace tarvolen::database::testing
