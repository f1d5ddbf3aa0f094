// The command line: mode options and the feed URL.
#pragma once

// Splits commandLine with CommandLineToArgvW and applies the options to
// g_app, skipping the program path. Options match whole arguments without
// regard to case: "--update" and "--uninstall" set their mode flags; "--feed"
// takes the next argument unchanged as feedUrl (the last one wins; a trailing
// "--feed" is ignored). Anything else is ignored. When the line cannot be
// split, nothing changes.
void ApplyCommandLine(const wchar_t* commandLine);
