#include "loader/handshake.h"

#include <gtest/gtest.h>

#include <deque>

#include "support/sim_fixture.h"

namespace zarvik {
namespace {

// Answers the sync with a fixed reply, all at once.
class ReplyLink final : public ByteLink {
public:
    explicit ReplyLink(std::string reply) : reply_(std::move(reply)) {}
    bool write(std::span<const std::uint8_t> bytes) override {
        written.insert(written.end(), bytes.begin(), bytes.end());
        return true;
    }
    ReadResult read(std::span<std::uint8_t> into) override {
        const std::size_t n = std::min(into.size(), reply_.size());
        std::copy_n(reply_.begin(), n, into.begin());
        return ReadResult{n, false};
    }
    void discard_input() override {}
    std::vector<std::uint8_t> written;

private:
    std::string reply_;
};

TEST(Handshake, RepliesAsTheLoaderIdentifiesItself) {
    struct Case { std::string reply; HandshakeOutcome outcome; };
    const Case cases[] = {
        {"Loader", HandshakeOutcome::Connected},
        {std::string("Loader\0xyz", 10), HandshakeOutcome::Connected},
        {"UUUU", HandshakeOutcome::Connected},
        {"Loader\r", HandshakeOutcome::NoLoader},
        {"loader", HandshakeOutcome::NoLoader},
        {"Load", HandshakeOutcome::NoLoader},
        {"", HandshakeOutcome::NoLoader},
    };
    FakeClock clock;
    for (const Case& c : cases) {
        ReplyLink link(c.reply);
        LoaderProtocol protocol(link, clock);
        EXPECT_EQ(connect_to_loader(protocol), c.outcome) << c.reply;
        EXPECT_EQ(link.written, testing::bytes({0x55, 0x55, 0x55, 0x55}));
    }
}

TEST(Handshake, AgainstTheSimulatedLoader) {
    testing::SimBoard board;
    EXPECT_EQ(connect_to_loader(board.protocol), HandshakeOutcome::Connected);

    SimFaults echo;
    echo.echo = true;
    testing::SimBoard echoing("ATmega8", echo);
    EXPECT_EQ(connect_to_loader(echoing.protocol), HandshakeOutcome::Connected);

    SimFaults silent;
    silent.silent = true;
    testing::SimBoard mute("ATmega8", silent);
    const auto t0 = mute.clock.now_ms();
    EXPECT_EQ(connect_to_loader(mute.protocol), HandshakeOutcome::NoLoader);
    EXPECT_EQ(mute.clock.now_ms() - t0, 550);

    SimFaults garbage;
    garbage.garbage = true;
    testing::SimBoard noisy("ATmega8", garbage);
    EXPECT_EQ(connect_to_loader(noisy.protocol), HandshakeOutcome::NoLoader);
}

}  // namespace
}  // namespace zarvik
