// help: the )HELP command. Its texts live in a file of their own (the host
// names it in APL_helpfile), read when the command runs, so that the
// reference pages and the session show the same words; the keyboard comes
// from the host, which owns the layout, through callback slot 11.
// Relies on the output channel and the system's text translation.
#pragma once

// Shows what the words after )HELP ask for: nothing (the system commands),
// ⎕ (the system names), KEYS (the keyboard), a glyph, a command or a
// system name.
void ShowHelp(const char *text);
