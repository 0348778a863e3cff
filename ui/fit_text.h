// Shortening of cell texts to a pixel width, independent of the device that measures them.
#pragma once

// Measures the first `length` characters of `text`; stores the width in
// pixels and returns 1, or returns 0 when the measurement fails.
typedef int (*TextMeasurer)(void* context, const char* text, int length, int* width);

// Shortens the NUL-terminated text in its buffer of bufferSize bytes so that
// it fits width pixels less the margin (4 pixels at 96 DPI), ending it with
// "...", ".." or "." as room allows. Returns 1 when the text fitted or was
// shortened, 0 when a measurement failed or the buffer holds no terminated
// text; on 0 the text is unchanged. Nothing is ever written past the buffer.
int fitTextToWidth(TextMeasurer measure, void* context, char* text, int bufferSize, int width, int margin = 4);
