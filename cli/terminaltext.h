// Names and refused values shown on a terminal: a control character in a
// file name (an escape sequence) would move the cursor, retitle the window
// or answer back. There each is shown as \xHH; a pipe or a file gets the
// bytes as they are.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Every C0 control, DEL and C1 control (as UTF-8, or a lone byte 0x80 to
// 0x9F outside a UTF-8 sequence) as \xHH, byte by byte; the rest as it is.
std::string EscapeControls(std::string_view text);

// text as it goes to stream: escaped when the stream is a terminal.
std::string ForStream(std::string_view text, std::FILE *stream);
