#include "RefusingPort.h"

#include "platform/linux/ProgramInfoDictionary.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace wl::test {

RefusingPort::RefusingPort()
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ADD_FAILURE() << "no loopback port could be held for a service that is not there";
        return;
    }
    port_ = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string RefusingPort::httpUrl() const
{
    return "http://127.0.0.1:" + std::to_string(port_);
}

void expectOwnServiceAddress(const QUrl& url, const std::string& who)
{
    const int defaultPort = QUrl(QString::fromLatin1(ProgramInfoDictionary::kDefaultIntroductionURL)).port();
    EXPECT_TRUE(url.isValid() && !url.isEmpty() && url.port() > 0 && url.port() != defaultPort)
        << who
        << (url.isEmpty() ? std::string(" was given no service address")
                          : " would reach the introduction service at " + url.toString().toStdString() +
                    ", which this test did not start")
        << ": give it a ServiceProcess's address or a RefusingPort's";
}

} // namespace wl::test
