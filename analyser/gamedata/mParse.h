// Following references: the files of the fixed list _bc_OtherINI, and the
// files named by the stored values of one entry rule. Both query the settings
// database, which reaches the stored data through its links.
//
// The module's other half, rules/mParse.h, loads and dumps the rule base; the
// two share a name but sit in two layers, since only this half reads files.
#pragma once

#include <cstdint>

namespace ketch {

// Reads every file that _bc_OtherINI lists, under the area "Hardcoded".
void ReadOtherINIs();

// Reads every file named by a value stored so far for the entry rule id, under
// the area of the section that named it. The query sees exactly the rows
// committed before it started.
void ReadINIFromValues(int16_t id);

// The entry rules whose values name further files, in the order they are
// followed.
inline constexpr int16_t kReferenceRules[] = {74, 101, 871, 877, 879, 64, 824,
                                              1034, 1040, 1055, 1107, 1169, 872};

}  // namespace ketch
