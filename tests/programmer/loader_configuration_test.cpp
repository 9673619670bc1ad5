#include <gtest/gtest.h>

#include "loader/wait_count.h"
#include "programmer/status_texts.h"
#include "support/programmer_fixture.h"

namespace zarvik {
namespace {

using testing::ProgrammerBench;
using Result = OperationOutcome::Result;

std::array<std::uint8_t, 128> first_block(const ProgrammerBench& bench) {
    std::array<std::uint8_t, 128> out;
    const auto block = bench.board.loader.loader_first_block();
    std::copy(block.begin(), block.end(), out.begin());
    return out;
}

TEST(LoaderConfiguration, RewritesBothCopiesOfTheWaitCountOnly) {
    for (const char* model : {"ATmega8", "ATmega328"}) {
        ProgrammerBench bench(model);
        const auto before = first_block(bench);
        const auto outcome = bench.programmer.configure_loader("16", "2");
        ASSERT_TRUE(outcome.ok()) << status_text(outcome);
        const auto after = first_block(bench);
        EXPECT_EQ(decode_wait_count(after, 0), 2'666'667u);
        EXPECT_EQ(decode_wait_count(after, 1), 2'666'667u);
        for (std::size_t i = 0; i < 128; ++i) {
            const bool immediate = (i >= 48 && i <= 51) || i == 54 || i == 55 || (i >= 82 && i <= 85) || i == 88 || i == 89;
            EXPECT_EQ(after[i] & (immediate ? 0xF0 : 0xFF), before[i] & (immediate ? 0xF0 : 0xFF)) << model << " " << i;
        }
        EXPECT_EQ(after[48], (before[48] & 0xF0) | 0xB);
        EXPECT_EQ(after[55], (before[55] & 0xF0) | 0x2);
        EXPECT_EQ(status_text(outcome), "Настройка загрузчика выполнена на частоту 16 МГц и 2 секунды");
        // The block is read and written at the model's loader address.
        const auto& log = bench.board.loader.log();
        EXPECT_EQ(log[1].byte, bench.board.loader.model().loader_start >> 8);
    }
}

TEST(LoaderConfiguration, DecimalCommaIsAPoint) {
    ProgrammerBench bench;
    const auto outcome = bench.programmer.configure_loader("7,3728", "1");
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.fosc_text, "7.3728");
    EXPECT_EQ(decode_wait_count(first_block(bench), 0), 614'401u);
}

TEST(LoaderConfiguration, RefusedCountsSendNothing) {
    struct Case { const char* fosc; const char* timeout; Refusal refusal; const char* text; };
    const Case cases[] = {
        {"16", "13", Refusal::WaitCountTooLarge, "Задано слишком большое время ожидания запуска программы!"},
        {"16", "1000000000", Refusal::WaitCountTooLarge, "Задано слишком большое время ожидания запуска программы!"},
        {"-8", "5", Refusal::WaitCountNegative, "Частота и время ожидания не могут быть отрицательными!"},
        {"abc", "5", Refusal::FoscNotNumber,
         "Частота Fosc должна быть числом мегагерц, например 16 или 7,3728: в устройство ничего не отправлено"},
        {"", "5", Refusal::FoscNotNumber,
         "Частота Fosc должна быть числом мегагерц, например 16 или 7,3728: в устройство ничего не отправлено"},
        {"16 xyz", "5", Refusal::FoscNotNumber,
         "Частота Fosc должна быть числом мегагерц, например 16 или 7,3728: в устройство ничего не отправлено"},
        {"16", "", Refusal::TimeoutNotNumber,
         "Время ожидания time_out должно быть числом секунд, например 2 или 0,5: в устройство ничего не отправлено"},
    };
    for (const Case& c : cases) {
        ProgrammerBench bench;
        const auto outcome = bench.programmer.configure_loader(c.fosc, c.timeout);
        EXPECT_EQ(outcome.result, Result::Refused);
        EXPECT_EQ(outcome.refusal, c.refusal);
        EXPECT_EQ(status_text(outcome), c.text);
        EXPECT_EQ(bench.commands_sent(), 0u);
    }
}

TEST(LoaderConfiguration, ShortBlockIsNeverProgrammedBack) {
    SimFaults f;
    f.short_block = true;
    ProgrammerBench bench("ATmega328", f);
    const auto before = first_block(bench);
    const auto outcome = bench.programmer.configure_loader("16", "2");
    EXPECT_EQ(outcome.result, Result::LinkFailure);
    EXPECT_EQ(first_block(bench), before);
    EXPECT_NE(status_text(outcome).find("настройке загрузчика"), std::string::npos);
}

}  // namespace
}  // namespace zarvik
