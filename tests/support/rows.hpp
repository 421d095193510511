// Rows of a parameterised test that carry a `name`: they print as that name
// in failure messages (a file that has such rows says
// "using kvttest::PrintTo;" beside them, so that the printer finds this),
// and by_name names each test after its row.
#pragma once

#include <ostream>
#include <string>

namespace kvttest {

template <typename Row>
requires requires(const Row &row)
{
    std::string(row.name);
}
void PrintTo(const Row &row, std::ostream *out)
{
    *out << row.name;
}

inline constexpr auto by_name = [](const auto &info) { return std::string(info.param.name); };

} // namespace kvttest
