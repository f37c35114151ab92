#pragma once

// Conversations made up for the benchmarks: entries of everyday length in
// English, Spanish, French and Bulgarian, the same for the same numbers.

#include "history/HistoryStore.h"

#include <cstddef>
#include <string>

namespace velantro::history::bench {

/// The handle of the index-th made-up partner.
std::string PartnerHandle(std::size_t index);

/// The word that entry number (counted from 0) alone holds, of the same
/// length for every entry below ten million, so none is the start of another.
std::string EntryWord(std::size_t number);

/// A word that is in about one entry in fifty, and one in none of them.
inline constexpr const char* CommonWord = "coffee";
inline constexpr const char* AbsentWord = "xylophone";

/// Appends entries entries to store, spread evenly over partners partners,
/// each through Append as the program does. False, with LastError, when an
/// append fails.
bool Fill(HistoryStore& store, std::size_t entries, std::size_t partners);

} // namespace velantro::history::bench
