// The command line's console layer without a console: what it does with text, how it
// splits a Windows command line, what each way out means, and the progress bar. These
// run natively and under Wine.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/console.h"
#include "cli/console_text.h"
#include "cli/text_reporter.h"
#include "link/clock.h"
#include "platform/system_language.h"
#include "programmer/status_texts.h"
#include "text/language.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#endif

namespace zarvik::cli {
namespace {

TEST(ConsoleText, ACharacterSplitBetweenWritesIsHeldBackWhole) {
    // "Пуск" is D0 9F D1 83 D1 81 D0 BA; "€" is E2 82 AC; "😀" is F0 9F 98 80.
    struct Case { std::string text; std::size_t whole; };
    for (const Case& c : {Case{"", 0}, Case{"abc", 3}, Case{"\xD0\x9F\xD1\x83", 4}, Case{"\xD0\x9F\xD1", 2},
                          Case{"a\xE2", 1}, Case{"a\xE2\x82", 1}, Case{"a\xE2\x82\xAC", 4}, Case{"\xF0\x9F\x98", 0},
                          Case{"\xF0\x9F\x98\x80", 4},
                          // Bytes that never become a character are not held: the console
                          // shows them as what they are.
                          Case{"x\x80\x80\x80", 4}, Case{"\xFF", 1}}) {
        EXPECT_EQ(utf8_whole_length(c.text), c.whole) << testing::PrintToString(c.text);
    }
}

TEST(ConsoleText, TheWindowsCommandLineSplitsAsTheCRuntimeSplitsIt) {
    struct Case { const wchar_t* line; std::vector<std::wstring> args; };
    const Case cases[] = {
        {L"zarvik-cli.exe -p COM3 connect", {L"zarvik-cli.exe", L"-p", L"COM3", L"connect"}},
        {L"\"C:\\Program Files\\Zarvik\\zarvik-cli.exe\" write flash \"Моя прошивка.hex\"",
         {L"C:\\Program Files\\Zarvik\\zarvik-cli.exe", L"write", L"flash", L"Моя прошивка.hex"}},
        {L"z.exe  \t a\\b\\c  \"d\\\\\" e", {L"z.exe", L"a\\b\\c", L"d\\", L"e"}},
        {L"z.exe a\\\\\\\"b \"c\"\"d\" x\"y z\"w", {L"z.exe", L"a\\\"b", L"c\"d xy", L"zw"}},
        {L"z.exe \"\" end", {L"z.exe", L"", L"end"}},
        {L"z.exe", {L"z.exe"}},
        {L"z.exe \\\\.\\COM12 -b 4800", {L"z.exe", L"\\\\.\\COM12", L"-b", L"4800"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split_windows_command_line(c.line), c.args) << testing::PrintToString(std::wstring(c.line));
#if defined(_WIN32)
        // The same as the system's own splitter, which this one stands in for.
        int count = 0;
        wchar_t** system = ::CommandLineToArgvW(c.line, &count);
        ASSERT_NE(system, nullptr);
        EXPECT_EQ(std::vector<std::wstring>(system, system + count), c.args) << testing::PrintToString(std::wstring(c.line));
        ::LocalFree(system);
#endif
    }
}

TEST(StopReasons, EachWayOutHasTheShellsExitCodeAndSaysWhatHappened) {
    set_language(Language::Russian);
    struct Case { StopReason reason; int code; const char* says; };
    for (const Case& c : {Case{StopReason::Interrupt, 130, "Ctrl-C"}, Case{StopReason::Terminate, 143, "SIGTERM"},
                          Case{StopReason::HangUp, 129, "SIGHUP"}, Case{StopReason::ConsoleClosed, 129, "консоли"},
                          Case{StopReason::LogOff, 143, "выходит"}, Case{StopReason::Shutdown, 143, "завершает"}}) {
        EXPECT_EQ(stop_exit_code(c.reason), c.code) << c.says;
        EXPECT_NE(std::string(stop_text(c.reason)).find(c.says), std::string::npos) << stop_text(c.reason);
    }
}

TEST(StopReasons, TheFirstReasonStandsUntilItIsDealtWith) {
    Console::forget_stop();
    EXPECT_EQ(Console::stop_reason(), StopReason::None);
    note_stop(StopReason::Terminate);
    note_stop(StopReason::Interrupt);  // a Ctrl-C after SIGTERM is still a termination
    EXPECT_EQ(Console::stop_reason(), StopReason::Terminate);
    Console::forget_stop();
    note_stop(StopReason::HangUp);
    EXPECT_EQ(Console::stop_reason(), StopReason::HangUp);
    Console::forget_stop();
}

TEST(SystemLanguage, AWindowsLanguageIdSpeaksRussianOnlyForRussian) {
    struct Case { unsigned short id; Language language; };
    for (const Case& c : {Case{0x0419, Language::Russian}, Case{0x0819, Language::Russian},  // ru-RU, ru-MD
                          Case{0x0409, Language::English}, Case{0x0809, Language::English},  // en-US, en-GB
                          Case{0x0407, Language::English}, Case{0x0422, Language::English},  // de-DE, uk-UA
                          Case{0x0000, Language::English}}) {
        EXPECT_EQ(language_from_windows_id(c.id), c.language) << std::hex << c.id;
    }
}

// The bar as a console sees it: what reaches standard error, from a scratch file.
std::string contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[512];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    return text;
}

TEST(ProgressBar, RedrawsInPlaceWithoutEscapesAndLeavesNoTrace) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_NE(err, nullptr);
    FakeClock clock;
    set_language(Language::Russian);
    {
        TextReporter reporter(TextReporter::Verbosity::Normal, true, clock, out, err);
        // The longest words, the largest memory and a five-digit rate: the widest line.
        reporter.begin(Operation::Configure, MemoryKind::Flash);
        reporter.on_range(32768);
        for (std::uint32_t at = 0; at <= 32768; at += 4096) {
            clock.sleep_ms(100);
            reporter.on_position(at);
        }
        OperationOutcome done;
        done.operation = Operation::Write;
        done.memory = MemoryKind::Flash;
        done.result = OperationOutcome::Result::Success;
        reporter.outcome(done);
    }
    const std::string drawn = contents(err);
    EXPECT_EQ(drawn.find('\x1b'), std::string::npos) << "an escape sequence: " << testing::PrintToString(drawn);
    EXPECT_EQ(drawn.find('\n'), std::string::npos) << "each redraw must stay on its line";
    EXPECT_NE(drawn.find("100%"), std::string::npos);
    // Each redraw fits an 80-column console, which would otherwise wrap it onto a new
    // line: the widest operation and memory at full size and a high rate.
    for (std::size_t at = drawn.find('\r'); at != std::string::npos;) {
        const std::size_t next = drawn.find('\r', at + 1);
        const std::string line = drawn.substr(at + 1, (next == std::string::npos ? drawn.size() : next) - at - 1);
        EXPECT_LT(text_columns(line), 80u) << line;
        at = next;
    }
    // Every redraw starts at the line's start and the last one is blanked out whole:
    // what follows the final carriage return is blanks up to the bar's width, then one
    // more return.
    ASSERT_GE(drawn.size(), 2u);
    EXPECT_EQ(drawn.back(), '\r');
    const std::size_t last_bar = drawn.rfind('\r', drawn.size() - 2);
    const std::string blanking = drawn.substr(last_bar + 1, drawn.size() - last_bar - 2);
    const std::size_t widest = drawn.find('\r', 1) == std::string::npos ? 0 : [&] {
        std::size_t w = 0;
        for (std::size_t at = 0; at < last_bar;) {
            const std::size_t next = drawn.find('\r', at + 1);
            w = std::max(w, text_columns(drawn.substr(at + 1, (next == std::string::npos ? last_bar : next) - at - 1)));
            at = next == std::string::npos ? last_bar : next;
        }
        return w;
    }();
    EXPECT_EQ(blanking, std::string(widest, ' '));
    EXPECT_NE(contents(out).find("Запись flash закончена!"), std::string::npos) << contents(out);
    std::fclose(out);
    std::fclose(err);
}

TEST(ProgressBar, AShorterBarBlanksWhatTheLongerOneLeft) {
    std::FILE* err = std::tmpfile();
    std::FILE* out = std::tmpfile();
    ASSERT_NE(err, nullptr);
    ASSERT_NE(out, nullptr);
    FakeClock clock;
    TextReporter reporter(TextReporter::Verbosity::Normal, true, clock, out, err);
    reporter.begin(Operation::Read, MemoryKind::Eeprom);
    reporter.on_range(1024);
    clock.sleep_ms(1);  // a high rate: many digits
    reporter.on_position(1000);
    clock.sleep_ms(100000);  // a low rate: fewer digits, a shorter line
    reporter.on_position(1010);
    const std::string drawn = contents(err);
    const std::size_t second = drawn.rfind('\r');
    ASSERT_NE(second, 0u);
    const std::size_t first_width = second - 1;
    EXPECT_EQ(drawn.size() - second - 1, first_width) << testing::PrintToString(drawn);
    std::fclose(err);
    std::fclose(out);
}

// What the command line prints of a write with its verify, in each language: the verify
// step is named for verifying, a mismatch says how many bytes differ beyond the listed
// addresses, and the time's unit is the language's own.
TEST(ReporterTexts, TheVerifyStepTheDifferenceCountAndTheTimeUnitInEachLanguage) {
    struct Case {
        Language language;
        const char* verify_step;
        const char* written;
        const char* count;
    };
    const Case cases[] = {
        {Language::Russian, "Сравниваем Flash\n", "Запись flash закончена!  Время записи: 1234 мс\n",
         " и далее (всего различаются 25 байт)\n"},
        {Language::English, "Verifying flash\n", "Flash written.  Time: 1234 ms\n", " and more (25 bytes differ)\n"},
    };
    for (const Case& c : cases) {
        set_language(c.language);
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        ASSERT_NE(out, nullptr);
        ASSERT_NE(err, nullptr);
        FakeClock clock;
        {
            TextReporter reporter(TextReporter::Verbosity::Normal, true, clock, out, err);
            reporter.begin(Operation::Write, MemoryKind::Flash);
            reporter.on_phase(Phase::Writing);
            OperationOutcome written;
            written.operation = Operation::Write;
            written.memory = MemoryKind::Flash;
            written.result = OperationOutcome::Result::Success;
            written.elapsed_ms = 1234;
            reporter.outcome(written);
            // The verify reads the chip back, and the programmer says so with Reading.
            reporter.begin(Operation::Verify, MemoryKind::Flash);
            reporter.on_phase(Phase::Reading);
            OperationOutcome differs = written;
            differs.operation = Operation::Verify;
            differs.result = OperationOutcome::Result::Differences;
            for (std::uint32_t a = 0; a < 25; ++a) differs.differences.push_back({0x100 + a, 0x0C, 0xFF});
            differs.difference_count = 25;
            reporter.outcome(differs);
        }
        const std::string shown = contents(err);
        EXPECT_NE(shown.find(c.verify_step), std::string::npos) << shown;
        EXPECT_EQ(shown.find(phase_text(Phase::Reading, MemoryKind::Flash)), std::string::npos) << shown;
        const std::string printed = contents(out);
        EXPECT_NE(printed.find(c.written), std::string::npos) << printed;
        EXPECT_NE(printed.find(c.count), std::string::npos) << printed;
        std::fclose(out);
        std::fclose(err);
    }
    set_language(Language::Russian);
}

TEST(ReporterTexts, TheCountOfDifferingBytesTakesItsNumbersForm) {
    struct Case {
        std::uint32_t count;
        const char* russian;
        const char* english;
    };
    const Case cases[] = {
        {1, "(всего различается 1 байт)", "(1 byte differs)"},
        {3, "(всего различаются 3 байта)", "(3 bytes differ)"},
        {11, "(всего различаются 11 байт)", "(11 bytes differ)"},
        {21, "(всего различается 21 байт)", "(21 bytes differ)"},
        {32768, "(всего различаются 32768 байт)", "(32768 bytes differ)"},
    };
    for (const Case& c : cases) {
        for (const Language language : {Language::Russian, Language::English}) {
            set_language(language);
            std::FILE* out = std::tmpfile();
            ASSERT_NE(out, nullptr);
            FakeClock clock;
            {
                TextReporter reporter(TextReporter::Verbosity::Quiet, false, clock, out, out);
                reporter.begin(Operation::Verify, MemoryKind::Eeprom);
                OperationOutcome differs;
                differs.operation = Operation::Verify;
                differs.memory = MemoryKind::Eeprom;
                differs.result = OperationOutcome::Result::Differences;
                differs.differences.push_back({0x10, 1, 2});
                differs.difference_count = c.count;
                reporter.outcome(differs);
            }
            const std::string printed = contents(out);
            EXPECT_NE(printed.find(language == Language::Russian ? c.russian : c.english), std::string::npos) << printed;
            std::fclose(out);
        }
    }
    set_language(Language::Russian);
}

#if defined(_WIN32)
// The console's own events, sent to the handler as Windows sends them, each on a
// thread of its own.
TEST(ConsoleEvents, AClosingConsoleIsAStopThatLeavesIoUnderAHoldUncut) {
    Console::forget_stop();
    Cancellation cancel;
    Console::on_stop(cancel);
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
    {
        CancellationHold hold(&cancel);  // the loader's block is being written
        // The console closes while this thread blocks in a read, as the port's would;
        // the handler must not abort it while the hold is in place.
        std::thread console([&] {
            ::Sleep(100);
            std::thread([] { handle_console_event(CTRL_CLOSE_EVENT); }).detach();  // never returns, by design
            while (!cancel.pending()) ::Sleep(1);
            ::Sleep(300);
            DWORD n = 0;
            ::WriteFile(write_end, "ok", 2, &n, nullptr);
        });
        char buf[2] = {};
        DWORD got = 0;
        const BOOL ok = ::ReadFile(read_end, buf, 2, &got, nullptr);
        const DWORD error = ok ? 0 : ::GetLastError();
        console.join();
        EXPECT_TRUE(ok) << "the read under the hold was aborted, error " << error;
        EXPECT_EQ(Console::stop_reason(), StopReason::ConsoleClosed);
        EXPECT_TRUE(cancel.pending());
        EXPECT_FALSE(cancel.requested());  // deferred by the hold
    }
    EXPECT_TRUE(cancel.requested());  // due once the hold ends
    EXPECT_EQ(stop_exit_code(Console::stop_reason()), 129);
    ::CloseHandle(read_end);
    ::CloseHandle(write_end);
    Console::forget_stop();
}

TEST(ConsoleEvents, EachEventIsHeldAsAStopWithItsReason) {
    struct Case { DWORD event; StopReason reason; bool returns; };
    for (const Case& c : {Case{CTRL_C_EVENT, StopReason::Interrupt, true}, Case{CTRL_BREAK_EVENT, StopReason::Interrupt, true},
                          Case{CTRL_LOGOFF_EVENT, StopReason::LogOff, false},
                          Case{CTRL_SHUTDOWN_EVENT, StopReason::Shutdown, false}}) {
        Console::forget_stop();
        Cancellation cancel;
        Console::on_stop(cancel);
        if (c.returns) {
            EXPECT_EQ(handle_console_event(c.event), TRUE);
        } else {
            std::thread([e = c.event] { handle_console_event(e); }).detach();
            while (!cancel.pending()) ::Sleep(1);
        }
        EXPECT_EQ(Console::stop_reason(), c.reason) << c.event;
        EXPECT_TRUE(cancel.requested()) << c.event;
    }
    Console::forget_stop();
    EXPECT_EQ(handle_console_event(12345), FALSE);  // not ours to handle
}
#endif

}  // namespace
}  // namespace zarvik::cli
