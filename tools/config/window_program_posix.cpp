#include "tools/config/window_program.h"

bool windowProgramRuns() {
    return false;
}
