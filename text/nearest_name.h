// Suggestions for misspelt names ("did you mean customer_name?").
#pragma once

#include <string>
#include <vector>

namespace morvex {

// The known name nearest to `name` (differing by at most two edits, and by
// fewer than half of the known name's letters, ASCII letter case ignored), or
// an empty text when none is near. An edit is one byte inserted, removed or
// changed, or two adjacent bytes swapped. `slack` letters are added to the
// known name's length for the second bound, so that short names (parameter
// names such as "day") still find their misspellings ("date").
std::string NearestName(const std::string& name, const std::vector<std::string>& known,
                        size_t slack = 0);

}  // namespace morvex
