// Whitespace removal shared by the catalogue and the values of a new device.
#pragma once

namespace lumora {

// Removes every blank, tab, line feed, carriage return and form feed from text in place,
// keeping the order of the other bytes. A vertical tab is not among them and stays.
void remove_whitespace(char* text);

}  // namespace lumora
