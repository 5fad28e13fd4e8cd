#pragma once

#include <string_view>

namespace kvshake {

// The browser's major version named in its application version string: the first of the markers
// "MSIE 6." to "MSIE 11.", searched in that order, that the text contains. Version 11 in its own
// document mode names no marker but its engine, "Trident/7."; 0 for none of these.
int IEVersionOf(std::string_view appVersion);

}  // namespace kvshake
