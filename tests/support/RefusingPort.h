#pragma once
// Where a test's program parts find the introduction service. A developer may have
// scripts/run and its service on the program's default address (127.0.0.1:8787) beside
// the tests, so no part a test makes may reach it: each points at a service the test
// started (ServiceProcess) or, where the test wants none, at a RefusingPort (a part made
// without an address fails where it is made). The rigs check the address their parts
// were given with expectOwnServiceAddress.
#include <QUrl>

#include <cstdint>
#include <string>

namespace wl::test {

// A loopback port of the test's own where nothing listens: the socket holds the port
// (no other program can take it) but never listens, so every connection is refused at
// once.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    std::uint16_t port() const { return port_; }
    std::string httpUrl() const; // "http://127.0.0.1:<port>", as ServiceProcess names its own

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// Fails the running test when `url` is empty, not valid or on the default service port:
// the parts would reach a service the test did not start. `who` names the part.
void expectOwnServiceAddress(const QUrl& url, const std::string& who);

} // namespace wl::test
