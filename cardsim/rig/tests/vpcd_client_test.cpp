// The vpcd wire protocol and the client's behaviour, against a listener of
// the test's own that plays the driver.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "cardsim/unique_fd.h"
#include "cardsim/vpcd_client.h"
#include "cardsim/vpcd_protocol.h"

namespace cardsim {
namespace {

using namespace std::chrono_literals;

const Bytes kSelectMasterFile = {0x00, 0xA4, 0x04, 0x00, 0x0B, 'M', 'a', 's',
                                 't',  'e',  'r',  '.',  'F',  'i', 'l', 'e'};
const Bytes kSelectCryptoDf = {0x00, 0xA4, 0x04, 0x00, 0x0A, 'I', 'C', 'C',
                               '.',  'C',  'r',  'y',  'p',  't', 'o'};
const Bytes kVerify1234 = {0x00, 0x20, 0x00, 0x00, 0x04, '1', '2', '3', '4'};

std::shared_ptr<VirtualCard> FreshCard() { return VirtualCard::MakeFresh(CardSpec{}); }

// Plays the driver: listens on a loopback port and talks frames.
class FakeDriver {
 public:
  explicit FakeDriver(std::uint16_t port = 0) {
    m_listener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    ::setsockopt(m_listener.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener.Get(), 4) != 0)
      throw std::runtime_error("cannot listen");
    socklen_t length = sizeof address;
    ::getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
  }

  std::uint16_t Port() const { return m_port; }

  bool Accept(std::chrono::milliseconds timeout = 3s) {
    if (!Readable(m_listener.Get(), timeout)) return false;
    m_connection.Reset(::accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    m_reader = vpcd::FrameReader();
    return m_connection.Valid();
  }

  void SendRaw(const Bytes& bytes) {
    ASSERT_EQ(::send(m_connection.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  void Send(const Bytes& payload) { SendRaw(*vpcd::EncodeFrame(payload)); }

  // The next frame from the card, or nothing within the time.
  std::optional<Bytes> Receive(std::chrono::milliseconds timeout = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (auto frame = m_reader.Next()) return frame;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left <= 0ms || !Readable(m_connection.Get(), left)) return std::nullopt;
      std::uint8_t buffer[512];
      const ssize_t n = ::recv(m_connection.Get(), buffer, sizeof buffer, 0);
      if (n <= 0) {
        m_closed = true;
        return std::nullopt;
      }
      m_reader.Feed(buffer, static_cast<std::size_t>(n));
    }
  }

  // True once the card's side has closed the connection.
  bool SeesClose(std::chrono::milliseconds timeout = 3s) {
    while (!m_closed) {
      if (Receive(timeout)) continue;
      if (!m_closed) return false;
    }
    return true;
  }

  void Hangup() { m_connection.Reset(); }

 private:
  static bool Readable(int fd, std::chrono::milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(timeout.count())) == 1;
  }

  UniqueFd m_listener;
  UniqueFd m_connection;
  vpcd::FrameReader m_reader;
  std::uint16_t m_port = 0;
  bool m_closed = false;
};

TEST(VpcdFraming, LengthIsTwoBytesBigEndian) {
  EXPECT_EQ(*vpcd::EncodeFrame({}), (Bytes{0x00, 0x00}));
  EXPECT_EQ(*vpcd::EncodeFrame({0x04}), (Bytes{0x00, 0x01, 0x04}));
  const Bytes frame = *vpcd::EncodeFrame(Bytes(300, 0xAB));
  ASSERT_EQ(frame.size(), 302u);
  EXPECT_EQ(frame[0], 0x01);
  EXPECT_EQ(frame[1], 0x2C);
  EXPECT_EQ(frame[2], 0xAB);
  const auto largest = vpcd::EncodeFrame(Bytes(vpcd::kMaxPayload));
  ASSERT_TRUE(largest.has_value());
  EXPECT_EQ((*largest)[0], 0xFF);
  EXPECT_EQ((*largest)[1], 0xFF);
  EXPECT_FALSE(vpcd::EncodeFrame(Bytes(vpcd::kMaxPayload + 1)).has_value());
}

TEST(VpcdFraming, ReaderCutsAStreamWhateverPiecesItComesIn) {
  Bytes stream = *vpcd::EncodeFrame({0x04});
  const Bytes apdu = kSelectMasterFile;
  const Bytes second = *vpcd::EncodeFrame(apdu);
  stream.insert(stream.end(), second.begin(), second.end());
  const Bytes empty = *vpcd::EncodeFrame({});
  stream.insert(stream.end(), empty.begin(), empty.end());

  vpcd::FrameReader reader;
  std::vector<Bytes> messages;
  for (std::uint8_t byte : stream) {
    reader.Feed(&byte, 1);
    while (auto message = reader.Next()) messages.push_back(*message);
  }
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], (Bytes{0x04}));
  EXPECT_EQ(messages[1], apdu);
  EXPECT_TRUE(messages[2].empty());
  EXPECT_EQ(reader.Pending(), 0u);

  // All at once, with the start of a fourth frame.
  vpcd::FrameReader whole;
  stream.push_back(0x00);
  stream.push_back(0x05);
  stream.push_back(0x90);
  whole.Feed(stream);
  EXPECT_EQ(*whole.Next(), (Bytes{0x04}));
  EXPECT_EQ(*whole.Next(), apdu);
  EXPECT_TRUE(whole.Next()->empty());
  EXPECT_FALSE(whole.Next().has_value());
  EXPECT_EQ(whole.Pending(), 3u);
  whole.Feed({0xB8, 0x00, 0x00, 0x12});
  EXPECT_EQ(*whole.Next(), (Bytes{0x90, 0xB8, 0x00, 0x00, 0x12}));
}

TEST(VpcdFraming, ControlMessagesAndApdus) {
  auto card = FreshCard();
  EXPECT_EQ(vpcd::AnswerMessage(*card, {0x04}), VirtualCard::Atr());
  EXPECT_FALSE(vpcd::AnswerMessage(*card, {0x01}).has_value());  // power on
  EXPECT_FALSE(vpcd::AnswerMessage(*card, {0x03}).has_value());  // unknown: ignored
  EXPECT_FALSE(vpcd::AnswerMessage(*card, {}).has_value());

  // An APDU gets the card's own answer, 61xx included.
  const auto select = vpcd::AnswerMessage(*card, kSelectMasterFile);
  ASSERT_TRUE(select.has_value());
  ASSERT_EQ(select->size(), 2u);
  EXPECT_EQ((*select)[0], 0x61);

  // Power off and reset end the verified PIN.
  for (std::uint8_t control : {0x00, 0x02}) {
    ASSERT_EQ(vpcd::AnswerMessage(*card, kSelectMasterFile)->at(0), 0x61);
    ASSERT_EQ(vpcd::AnswerMessage(*card, kSelectCryptoDf)->at(0), 0x61);
    ASSERT_EQ(*vpcd::AnswerMessage(*card, kVerify1234), (Bytes{0x90, 0x00}));
    ASSERT_TRUE(card->PinVerified());
    EXPECT_FALSE(vpcd::AnswerMessage(*card, {control}).has_value());
    EXPECT_FALSE(card->PinVerified()) << "control " << int(control);
  }
}

TEST(VpcdClient, RetriesUntilTheDriverListens) {
  std::uint16_t port;
  { port = FakeDriver().Port(); }  // a port nobody listens on now
  VpcdClient client(FreshCard(), "127.0.0.1", port);
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(client.Connected());
  FakeDriver driver(port);
  ASSERT_TRUE(driver.Accept());
  EXPECT_TRUE(client.WaitConnected(3s));
  driver.Send({0x04});
  EXPECT_EQ(driver.Receive(), VirtualCard::Atr());
}

TEST(VpcdClient, AnswersFramesSplitAcrossWrites) {
  auto card = FreshCard();
  std::mutex seenMutex;
  std::vector<std::pair<Bytes, Bytes>> seen;
  FakeDriver driver;
  VpcdClient client(card, "127.0.0.1", driver.Port(), true,
                    [&](const Bytes& command, const Bytes& answer) {
                      std::lock_guard lock(seenMutex);
                      seen.emplace_back(command, answer);
                    });
  ASSERT_TRUE(driver.Accept());

  const Bytes frame = *vpcd::EncodeFrame(kSelectMasterFile);
  driver.SendRaw(Bytes(frame.begin(), frame.begin() + 1));
  std::this_thread::sleep_for(20ms);
  driver.SendRaw(Bytes(frame.begin() + 1, frame.begin() + 7));
  std::this_thread::sleep_for(20ms);
  driver.SendRaw(Bytes(frame.begin() + 7, frame.end()));
  const auto select = driver.Receive();
  ASSERT_TRUE(select.has_value());
  ASSERT_EQ(select->size(), 2u);
  EXPECT_EQ((*select)[0], 0x61);

  // Power off wants no answer: the next frame is the ATR asked for after it.
  driver.Send({0x00});
  driver.Send({0x01});
  driver.Send({0x04});
  EXPECT_EQ(driver.Receive(), VirtualCard::Atr());
  EXPECT_FALSE(driver.Receive(100ms).has_value());

  // Two commands in one write get two answers, in order.
  Bytes both = *vpcd::EncodeFrame({0x90, 0xB8, 0x00, 0x00, 0x12});
  const Bytes again = *vpcd::EncodeFrame({0x90, 0xB8, 0x00, 0x00, 0x12});
  both.insert(both.end(), again.begin(), again.end());
  driver.SendRaw(both);
  for (int i = 0; i < 2; ++i) {
    const auto chip = driver.Receive();
    ASSERT_TRUE(chip.has_value());
    EXPECT_EQ(chip->size(), 20u);
  }

  // The observer saw the APDUs, not the control messages. It runs after the
  // answer has gone out, so give it a moment for the last one.
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  for (;;) {
    {
      std::lock_guard lock(seenMutex);
      if (seen.size() >= 3 || std::chrono::steady_clock::now() > deadline) break;
    }
    std::this_thread::sleep_for(1ms);
  }
  driver.Send({0x04});  // one more control message: no observer call for it
  EXPECT_EQ(driver.Receive(), VirtualCard::Atr());
  std::lock_guard lock(seenMutex);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].first, kSelectMasterFile);
  EXPECT_EQ(seen[0].second, *select);
  EXPECT_EQ(seen[2].first, (Bytes{0x90, 0xB8, 0x00, 0x00, 0x12}));
}

TEST(VpcdClient, RemoveClosesInsertReconnects) {
  FakeDriver driver;
  VpcdClient client(FreshCard(), "127.0.0.1", driver.Port());
  ASSERT_TRUE(driver.Accept());
  ASSERT_TRUE(client.WaitConnected(3s));

  client.Remove();
  EXPECT_TRUE(driver.SeesClose());
  EXPECT_TRUE(client.WaitDisconnected(3s));
  EXPECT_FALSE(client.Inserted());
  EXPECT_FALSE(driver.Accept(200ms));  // stays out while removed

  client.Insert();
  ASSERT_TRUE(driver.Accept());
  EXPECT_TRUE(client.WaitConnected(3s));
  driver.Send({0x04});
  EXPECT_EQ(driver.Receive(), VirtualCard::Atr());
}

TEST(VpcdClient, StartsRemovedWhenAsked) {
  FakeDriver driver;
  VpcdClient client(FreshCard(), "127.0.0.1", driver.Port(), /*inserted=*/false);
  EXPECT_FALSE(driver.Accept(200ms));
  client.Insert();
  EXPECT_TRUE(driver.Accept());
}

TEST(VpcdClient, ReconnectsWhenTheDriverHangsUp) {
  FakeDriver driver;
  VpcdClient client(FreshCard(), "127.0.0.1", driver.Port());
  ASSERT_TRUE(driver.Accept());
  driver.Hangup();
  ASSERT_TRUE(driver.Accept());  // pcscd restarted: the card comes back
  driver.Send({0x04});
  EXPECT_EQ(driver.Receive(), VirtualCard::Atr());
}

TEST(VpcdClient, StopEndsTheConnectionForGood) {
  FakeDriver driver;
  auto client = std::make_unique<VpcdClient>(FreshCard(), "127.0.0.1", driver.Port());
  ASSERT_TRUE(driver.Accept());
  client->Stop();
  EXPECT_FALSE(client->Connected());
  EXPECT_TRUE(driver.SeesClose());
  EXPECT_FALSE(driver.Accept(200ms));
  client.reset();  // a second stop in the destructor is harmless
}

TEST(VpcdClient, StopWhileTheDriverIsAbsentReturnsPromptly) {
  std::uint16_t port;
  { port = FakeDriver().Port(); }
  auto client = std::make_unique<VpcdClient>(FreshCard(), "127.0.0.1", port);
  std::this_thread::sleep_for(20ms);
  const auto before = std::chrono::steady_clock::now();
  client.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
}

TEST(VpcdClient, RefusesToRunWithoutACard) {
  EXPECT_THROW(VpcdClient(nullptr, "127.0.0.1", 1), std::invalid_argument);
}

}  // namespace
}  // namespace cardsim
