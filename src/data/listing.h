#pragma once
#include <QString>

namespace xs {

class Connection;

// The statement a grid listing actually runs for the text it keeps.
//
// The case browser's node listing reads
//   ... from xj inner join class on xj.科室=class.科室  where xj.科室='t' or 年级='t' ...
// An OR across the two tables of the join gives the engine no index to start
// from: it reads the whole archive and sorts the matches. Every listed row
// joins xj.科室 to class.科室, and equality (NOCASE on both columns) is
// transitive, so xj.科室='t' holds exactly when class.科室='t'. Asked of class
// alone, the condition is served by class's indexes on 科室 and 年级 and the
// records come through xj's 科室 index: the same rows in the same order at
// the cost of the rows listed. Any other text is run as it is.
QString listingStatement(const QString &sql);

// Indexes the listings are served by; files made by an older tool lack them.
// Adds those missing and refreshes the planner's statistics (PRAGMA optimize).
// False when the file could not be changed (the listings then still work,
// only slower).
bool ensureListingIndexes(const Connection &c);

// The number of records of xj, kept by triggers as records are added and
// removed (the table row_counts), so that a grid of the whole archive is
// counted at once and not by reading an index of a million entries. Made for
// a file that lacks it, and counted again when it no longer holds. False
// when the file could not be changed (the grid then counts the records).
bool ensureRowCounts(const Connection &c);

}  // namespace xs
