// hostio: the callbacks that connect the library to the current screen and
// input source, so that the terminal session and the transcript checker can
// each plug in their own.
#pragma once

#include "input.h"
#include "screen.h"

void InstallCallbacks();
void UseScreen(Screen *screen);
void UseInput(InputSource *source);
Screen *CurrentScreen();
// Runs the library's session loop on the given lines (then the end of input),
// with output going to `screen`.
void RunLines(const std::vector<std::string> &codes, Screen &screen);
