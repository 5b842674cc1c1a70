// Generated rule libraries for the benchmarks: each item has two file and three
// registry conditions over a fresh prefix, a quarter of them for a platform group the
// running release is not in. Made with a fixed seed so every run measures the same
// library.
#pragma once

#include <cstdint>
#include <string>

#include "core/store/RuleLibrary.h"
#include "core/store/RulePack.h"

namespace corvane::bench {

// A detection document for item `n`.
std::string Detection(std::uint64_t seed, int n);

// An empty library at `library` filled with `items` generated items.
void MakeLibrary(const LibraryLocation& library, int items);

// An empty library at `library` filled with `items` items: the pack's items over and
// over, each copy under a new name, with the pack's platform groups.
void MakeRepeatedLibrary(const LibraryLocation& library, const RulePack& pack, int items);

} // namespace corvane::bench
