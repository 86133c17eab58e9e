/* An application of hix_burst in C, built against the DLL's import library
   as an application is: every one of the thirteen functions. Run with no
   board attached, it prints what reaches no board (parameters taken, two
   refused, an index out of range), then the board's failure on a line
   "board: ...". */
#ifdef KV_BUILT_IN
#error "an application imports the library's functions: it is built without KV_BUILT_IN"
#endif

#include <stdio.h>

#include "hix_burst.h"

/* The instance's status behind a label. */
static void status(const char* szLabel, int i)
{
    printf("%s: %s (code %d, packed 0x%08x, failed %d)\n", szLabel, hix_errortext(i), hix_diagcode(i),
           (unsigned)hix_errorcode(i), hix_failed(i));
}

/* A failure once the board is reached. */
static int report(int i)
{
    status("board", i);
    return 1;
}

int main(void)
{
    int n0 = -1, n1 = -1, r = 1;
    printf("CCH=2 %d\n", hix_burst_set_param_int(0, "CCH", 2));
    printf("T2=0.0005 %d\n", hix_burst_set_param_double(0, "T2", 0.0005));
    status("taken", 0);
    printf("CCH=3 %d\n", hix_burst_set_param_int(0, "CCH", 3));
    status("refused", 0);
    printf("T2=1e300 %d\n", hix_burst_set_param_double(0, "T2", 1e300));
    status("refused", 0);
    printf("init(2) %d\n", hix_burst_init(2, 0));
    status("index 2", 2);
    /* From here every call reaches the board. */
    if (hix_burst_init(0, 0) != 0)
        return report(0);
    if (hix_burst_arm(0) != 0 || hix_burst_trigger(0) != 0)
        return report(0);
    while (r == 1)
        r = hix_burst_loop(0);
    if (r != 0 || hix_burst_get_count(0, &n0) != 0 || hix_burst_get_counts(0, &n0, &n1) != 0)
        return report(0);
    printf("count0=%d count1=%d\n", n0, n1);
    return hix_burst_fini(0);
}
