#pragma once

#include <string_view>

namespace kvshake {

// The browser's major version named in its application version string. The engine token decides
// first ("Trident/4." is 8 up to "Trident/7." is 11), since Compatibility View reports "MSIE 7.0"
// beside it; without one, the first of the markers "MSIE 6." to "MSIE 11.", searched in that
// order, that the text contains; 0 for none of these.
int IEVersionOf(std::string_view appVersion);

}  // namespace kvshake
