// The service log's lines: the daemon's formats as written, texts from
// outside escaped, and every line ending where its format ends it.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "base/log.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

struct LogCase {
    const char *name;
    std::string text; // the one "%s" argument
    std::string message;
};

using kvttest::PrintTo;

class ServiceLog : public ::testing::TestWithParam<LogCase> {
  protected:
    // The message as the log holds it, checked to be one line that ends
    // where its format ends it.
    void expect_line(const std::string &message)
    {
        log_progress("next line\n");
        const std::string log = root_.service_log();
        const auto at = log.find(" " + message); // after the time text and its blank
        ASSERT_NE(at, std::string::npos) << log.substr(0, 200);
        EXPECT_EQ(log.find('\n'), at + message.size()) << "one line, ended by its format";
        const std::string rest = log.substr(at + 1 + message.size());
        EXPECT_TRUE(rest.ends_with(" next line\n") && rest.find('\n') == rest.size() - 1) << rest;
    }

    kvttest::SimRoot root_;
};

TEST_P(ServiceLog, EscapesTheTextsAndKeepsTheFormatsOwnCharacters)
{
    const LogCase &c = GetParam();
    log_progress("\tvalue [%-8s]\n", c.text.c_str());
    expect_line("\tvalue [" + c.message + "]\n");
}

TEST_P(ServiceLog, PutsTheEscapedValueIntoATablesLine)
{
    const LogCase &c = GetParam();
    constexpr kvt::ValueLine kLine = "\tvalue [%s]\n";
    log_error_value(kLine, c.text.c_str());
    std::string message = c.message;
    message.erase(message.find_last_not_of(' ') + 1); // no width in a table's line
    expect_line("\tvalue [" + message + "]\n");
}

const std::string kLong(3000, 'y');
const std::string kOverLimit(kvt::kMaxMessage + 10, 'z');
const std::string kAtLimit(kvt::kMaxMessage - std::string("\tvalue []\n").size(), 'w');

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lines, ServiceLog, ::testing::Values(
    LogCase{"NewlineInText", "x\nadmin", "x\\nadmin"},
    LogCase{"EscapeAndReturn", "a\x1b[2J\rb\t", "a\\x1b[2J\\rb\\t"},
    LogCase{"PaddedAfterEscaping", "ab", "ab      "},
    LogCase{"LineOverTwoThousand", kLong, kLong},
    LogCase{"MessageOfExactlyTheLimit", kAtLimit, kAtLimit}),
    kvttest::by_name);
// clang-format on

TEST(ServiceLogLimit, ALineOverTheLimitIsCutKeepingItsNewline)
{
    kvttest::SimRoot root;
    log_progress("%s\n", kOverLimit.c_str());
    log_error_value("%s\n", kOverLimit.c_str());
    const std::string cut = " " + std::string(kvt::kMaxMessage, 'z') + " [cut]\n";
    const std::string log = root.service_log();
    EXPECT_EQ(log.find(cut), log.size() / 2 - cut.size()) << "each line cut, and only there";
    EXPECT_EQ(log.rfind(cut), log.size() - cut.size());
}

TEST(ServiceLogNumbers, ConversionsOtherThanTextsAreFormattedAsPrintfDoes)
{
    kvttest::SimRoot root;
    log_progress("%d %u %x %02hhx %lu %zu %5.1f %10d %lld %ju %c %%\n", -3, 4000000000u, 255u,
                 static_cast<unsigned char>(7), 12ul, static_cast<std::size_t>(9), 2.5, 42,
                 1000000000000LL, std::uintmax_t{1} << 40, 'k');
    EXPECT_TRUE(kvttest::log_has(
        " -3 4000000000 ff 07 12 9   2.5         42 1000000000000 1099511627776 k %\n"));
}

} // namespace
