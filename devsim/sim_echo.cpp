// Echo with an optional line prefix, as the simulated serial device answers.
#include "devsim/sim_echo.h"

#include <cstring>

int echoTransform(const uint8_t* in, int inLength, const char* prefix, int* atLineStart, uint8_t* out, int outSize,
                  int* consumed)
{
    int prefixLength = prefix ? (int)strlen(prefix) : 0;
    int n = 0;
    int i = 0;
    for (; i < inLength; i++) {
        int need = 1 + (*atLineStart ? prefixLength : 0);
        if (n + need > outSize)
            break;
        if (*atLineStart && prefixLength > 0) {
            memcpy(out + n, prefix, (size_t)prefixLength);
            n += prefixLength;
        }
        out[n++] = in[i];
        *atLineStart = in[i] == '\n';
    }
    *consumed = i;
    return n;
}
