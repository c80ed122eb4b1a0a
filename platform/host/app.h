// The program: options, plug-in, inputs, the view, statistics and the exit status.
#pragma once

// Exit status: 0 every input read to its end, 1 an input failed or was damaged, 2 usage error.
int RunTdsdecode(int argc, const char* const* argv);
