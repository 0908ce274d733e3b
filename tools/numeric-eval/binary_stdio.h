// Puts standard input and output in binary mode where the system has a text mode, so that no
// CR is added or removed and no byte ends the input early. One file per system.
#pragma once

namespace numeric_eval {

void UseBinaryStdio();

}  // namespace numeric_eval
