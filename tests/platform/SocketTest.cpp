#include <gtest/gtest.h>

#include "platform/Socket.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

TEST(Socket, Connection_WouldBlockDataPeerCloseAndBrokenPipe)
{
    constexpr std::uint32_t kLoopback = 0x7F000001;
    const SOCKET listener = CreateTcpSocket();
    ASSERT_EQ(Bind(listener, SockAddrIn{kLoopback, 0}), 0);
    ASSERT_EQ(Listen(listener, 4), 0);
    const std::uint16_t port = LocalAddress(listener).port;
    const SOCKET client = ConnectLoopback(port);
    ASSERT_TRUE(WaitReadable(listener, 5000));
    SOCKET server = Accept(listener, nullptr);
    ASSERT_NE(server, INVALID_SOCKET);

    ASSERT_TRUE(SetNonBlocking(listener, true));
    EXPECT_EQ(Accept(listener, nullptr), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    char buffer[16];
    EXPECT_EQ(Recv(server, buffer, sizeof buffer), SOCKET_ERROR); // accepted: non-blocking
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    ASSERT_TRUE(SendAll(client, "ALARM"));
    ASSERT_TRUE(WaitReadable(server, 5000));
    ASSERT_EQ(Recv(server, buffer, sizeof buffer), 5);
    EXPECT_EQ(QByteArray(buffer, 5), "ALARM");
    ASSERT_EQ(ShutdownSend(client), 0);
    ASSERT_TRUE(WaitReadable(server, 5000));
    EXPECT_EQ(Recv(server, buffer, sizeof buffer), 0);

    closesocket(server); // a later send meets the reset; SIGPIPE would end the process
    const QByteArray block(64 * 1024, 'x');
    long result = 0;
    for (int i = 0; i < 100 && result != SOCKET_ERROR; ++i) {
        result = Send(client, block.constData(), static_cast<std::size_t>(block.size()));
    }
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_TRUE(WSAGetLastError() == EPIPE || WSAGetLastError() == WSAECONNRESET);
    CloseAll({listener, client});
}
