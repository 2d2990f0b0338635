// Texts and statuses a misbehaving driver may hand back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tav::test {

// A text of 1 MiB, format directives and braces, bytes that are no UTF-8.
inline std::vector<std::string> hostileTexts()
{
    std::string large(std::size_t(1) << 20, 'x');
    large.front() = '<';
    large.back() = '>';
    return {large, "%n%n%s%s%d {} {0} {:>1000000}", "\xff\xfe\xc3\x28 \xa0\xa1 \xe2\x82 \xf0\x28\x8c\x28"};
}

// Statuses beyond every table: the largest int, the smallest, all bits set.
inline const std::vector<std::uint32_t> hostileStatuses{0x7fffffffu, 0x80000000u, 0xffffffffu};

}  // namespace tav::test
