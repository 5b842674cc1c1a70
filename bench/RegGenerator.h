// A generated system.reg that looks like the one of a fresh Wine 8 prefix (COM
// registrations, services, time zones, installed programs, a #link key), made with a
// fixed seed so that every run measures the same file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane::bench {

struct GeneratedReg {
    std::string text;
    std::size_t sections = 0;
    std::size_t values = 0;
};

// A system.reg of about `targetBytes` bytes.
GeneratedReg GenerateSystemReg(std::size_t targetBytes, std::uint64_t seed = 0x5EED2023);

} // namespace corvane::bench
