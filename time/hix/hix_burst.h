// The flat interface of the burst counter: two measurement instances (index 0
// and 1), each opened on the time-interval-counter board, parameterised,
// armed, triggered and polled until its counts are complete. An index other
// than 0 or 1 gives -1 ("index out of range" from hix_errortext).
#pragma once

#include "hixexport.h"

#ifdef __cplusplus
extern "C" {
#endif

// Opens the board and loads its configuration; fSim also programs the
// board's own signal simulator. 0 or -1.
HIX_API int hix_burst_init(int i, int fSim);
// Closes the board; always 0.
HIX_API int hix_burst_fini(int i);
// Parameters "T1", "T2" (seconds), "TRM" ('s' or 'b'), "CTM" (0 continuous,
// else single), "CCH" (1 or 2 channels). 0 or -1.
HIX_API int hix_burst_set_param_int(int i, const char* sz, int n);
HIX_API int hix_burst_set_param_double(int i, const char* sz, double rd);
// Programs the board for a burst; 0 or -1.
HIX_API int hix_burst_arm(int i);
// Starts the burst; 0 or -1.
HIX_API int hix_burst_trigger(int i);
// One polling pass: 1 not complete, 0 complete, -1 failed.
HIX_API int hix_burst_loop(int i);
// The counts of channel 0 (and 1); -1 stored for a count not available.
HIX_API int hix_burst_get_count(int i, int* pn);
HIX_API int hix_burst_get_counts(int i, int* pn, int* pm);
// Status: 1 failed, 0 not; the text ("" for none); its first four characters
// packed into an int; its number.
HIX_API int hix_failed(int i);
HIX_API const char* hix_errortext(int i);
HIX_API int hix_errorcode(int i);
HIX_API int hix_diagcode(int i);

#ifdef __cplusplus
}
#endif
