#include <utility>

#include <gtest/gtest.h>

#include "platform/Socket.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;

// A listener on 127.0.0.1 and one accepted connection to it; closes what it holds.
struct Connection
{
    SOCKET listener = CreateTcpSocket();
    SOCKET client = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;

    Connection()
    {
        if (Bind(listener, SockAddrIn{kLoopback, 0}) == 0 && Listen(listener, 4) == 0) {
            client = ConnectLoopback(LocalAddress(listener).port);
            server = WaitReadable(listener, 5000) ? Accept(listener, nullptr) : INVALID_SOCKET;
        }
    }
    ~Connection()
    {
        for (SOCKET s : {listener, client, server}) {
            if (s != INVALID_SOCKET) {
                closesocket(s);
            }
        }
    }
    bool ok() const { return client != INVALID_SOCKET && server != INVALID_SOCKET; }
};

} // namespace

TEST(Socket, Ipv4_ParseAndFormat)
{
    const std::pair<const char*, std::uint32_t> valid[] = {
        {"127.0.0.1", kLoopback}, {" 10.1.2.3 ", 0x0A010203}, {"", 0}, {"255.255.255.255", ~0u}};
    for (const auto& [text, expected] : valid) {
        std::uint32_t address = 1;
        EXPECT_TRUE(ParseIpv4(text, &address) && address == expected) << text;
    }
    for (const char* text : {"256.0.0.1", "1.2.3", "printer.local", "::1", "1.2.3.4 5"}) {
        std::uint32_t address = 1;
        EXPECT_FALSE(ParseIpv4(text, &address)) << text;
    }
    EXPECT_EQ(FormatIpv4(kLoopback), "127.0.0.1");
    EXPECT_EQ(FormatIpv4(0xC0A80001), "192.168.0.1");
}

TEST(Socket, Errors_MapToWsaCodes)
{
    Connection c;
    ASSERT_TRUE(c.ok());
    const SOCKET second = CreateTcpSocket();
    SetReuseAddress(second, true); // even a restarted listener cannot take a live port
    EXPECT_EQ(Bind(second, SockAddrIn{kLoopback, LocalAddress(c.listener).port}), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
    EXPECT_FALSE(SocketErrorText(WSAEADDRINUSE).isEmpty());
    closesocket(second);

    ASSERT_TRUE(SetNonBlocking(c.listener, true));
    EXPECT_EQ(Accept(c.listener, nullptr), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST(Socket, Stream_WouldBlockDataPeerClosedAndBrokenPipe)
{
    Connection c;
    ASSERT_TRUE(c.ok());
    char buffer[16];
    EXPECT_EQ(Recv(c.server, buffer, sizeof buffer), SOCKET_ERROR); // accepted: non-blocking
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_FALSE(WaitReadable(c.server, 20));

    ASSERT_TRUE(SendAll(c.client, "ALARM"));
    ASSERT_TRUE(WaitReadable(c.server, 5000));
    ASSERT_EQ(Recv(c.server, buffer, sizeof buffer), 5);
    EXPECT_EQ(QByteArray(buffer, 5), "ALARM");

    ASSERT_EQ(ShutdownSend(c.client), 0);
    ASSERT_TRUE(WaitReadable(c.server, 5000));
    EXPECT_EQ(Recv(c.server, buffer, sizeof buffer), 0);

    closesocket(c.server);
    c.server = INVALID_SOCKET;
    // Early sends may still be queued; a later one meets the reset (SIGPIPE would kill us).
    const QByteArray block(64 * 1024, 'x');
    long result = 0;
    for (int i = 0; i < 100 && result != SOCKET_ERROR; ++i) {
        result = Send(c.client, block.constData(), static_cast<std::size_t>(block.size()));
    }
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_TRUE(WSAGetLastError() == EPIPE || WSAGetLastError() == WSAECONNRESET);
}
