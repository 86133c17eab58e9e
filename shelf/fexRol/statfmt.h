// The formatted form of a status, "stat=%x (%s %d)", without the C library:
// the kernel build's print of a status.
#pragma once

// Formats the state in lowercase hexadecimal, the text and the number in
// decimal; stores at most size bytes including the terminating zero (none
// when size is 0), cutting the text to fit, and returns the length of the
// whole formatted text, as snprintf does.
int fexPrintStat(char* sz, unsigned size, unsigned uStat, const char* szText, int iNum);
