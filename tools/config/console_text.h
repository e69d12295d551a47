#pragma once
// Text for a console of 80 columns (the Windows console's usual width, where
// a longer line wraps in the middle of a word).

#include <cstdio>

// Writes text and a line end to out, broken at blanks so that no line takes
// more than 79 columns; a word longer than a line stays whole. The first line
// starts after `column` columns already written, each further line after
// `indent` blanks.
void writeWrapped(FILE* out, const char* text, int column, int indent);
