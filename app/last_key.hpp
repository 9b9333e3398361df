// The pause before the program ends: one key at a terminal, one character
// otherwise.
#pragma once

#include <cstdio>

// At a terminal, waits for a single key press, without echo and without
// waiting for Enter, and puts the terminal back as it was. Elsewhere reads one
// character (end of input ends the wait at once). Returns what was read, or EOF.
int read_last_key(std::FILE* input);
