// The service log's lines: the daemon's formats as written, texts from
// outside escaped, and every line ending where its format ends it.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "service/log.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

struct LogCase {
    const char *name;
    const char *format;
    std::string text; // the one "%s" argument
    std::string message;
};

using kvttest::PrintTo;

class ServiceLog : public ::testing::TestWithParam<LogCase> {
  protected:
    kvttest::SimRoot root_;
};

TEST_P(ServiceLog, WritesTheFormatAsItStandsAndEscapesTheTexts)
{
    const LogCase &c = GetParam();
    log_progress(c.format, c.text.c_str());
    log_progress("next line\n");

    const std::string log = root_.service_log();
    const auto at = log.find(" " + c.message); // after the time text and its blank
    ASSERT_NE(at, std::string::npos) << log.substr(0, 200);
    EXPECT_EQ(log.find('\n'), at + c.message.size()) << "one line, ended by its format";
    const std::string rest = log.substr(at + 1 + c.message.size());
    EXPECT_TRUE(rest.ends_with(" next line\n") && rest.find('\n') == rest.size() - 1) << rest;
}

const std::string kLong(3000, 'y');

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lines, ServiceLog, ::testing::Values(
    LogCase{"NewlineInText", "name: %s\n", "x\nadmin", "name: x\\nadmin\n"},
    LogCase{"EscapeAndReturn", "<%s>\n", "a\x1b[2J\rb\t", "<a\\x1b[2J\\rb\\t>\n"},
    LogCase{"FormatKeepsItsTab", "\tpath %s val\n", "/X/a", "\tpath /X/a val\n"},
    LogCase{"LineOverTwoThousand", "value=%s\n", kLong, "value=" + kLong + "\n"},
    LogCase{"LineOverTheLimitIsCut", "%s\n", std::string(kvt::kMaxMessage + 10, 'z'), std::string(kvt::kMaxMessage, 'z') + " [cut]\n"},
    LogCase{"WidthAndPrecision", "[%-6.3s]\n", "abcdef", "[abc   ]\n"}),
    kvttest::by_name);
// clang-format on

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
