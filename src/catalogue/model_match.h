// Which catalogue model a scanner names in its own description of itself (the make and model
// a network scanner announces, such as "Kelvane LumaScan MX-200 series"). The rule: the
// longest catalogue name that stands in the description as a whole word, compared without
// case; a name stands as a whole word where neither the byte before it nor the byte after it
// is an ASCII letter or digit. Of names equally long, the first in catalogue order wins.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

inline constexpr std::size_t kNoModelMatch = static_cast<std::size_t>(-1);

// The index in names of the model that descriptions name, or kNoModelMatch. Every description
// is searched, and the longest name found in any of them wins; on equal length the earlier
// description, then the earlier name. An empty name matches nothing.
std::size_t match_catalogue_model(const std::vector<std::string>& names,
                                  const std::vector<std::string_view>& descriptions);

// Whether name stands in description as a whole word, compared without case.
bool stands_as_whole_word(std::string_view description, std::string_view name);

}  // namespace lumora
