#include "driver/probe_config.h"

#include <cstdlib>

const char* g_dir = ".";

int32_t arg_to_int(const char* text)
{
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    // Accumulate toward the bound and stop there; more digits cannot bring it back.
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value >= limit) {
            value = limit;
            while (p[1] >= '0' && p[1] <= '9')
                ++p;
        }
    }
    return (int32_t)(negative ? -value : value);
}

double arg_to_double(const char* text)
{
    // strtod reads exactly the prefix atof does, and is defined for every input.
    return std::strtod(text, nullptr);
}

ProbeConfig parse_config(int argc, char** argv)
{
    ProbeConfig cfg = {".", 24, 6000, {30.0, 44.0, 37.0}};
    if (argc > 1) {
        cfg.dir = argv[1];
        // An empty directory would send every dump to the root of the drive; the
        // current directory is what an empty text means to the user.
        g_dir = argv[1][0] != '\0' ? argv[1] : ".";
    }
    if (argc > 2)
        cfg.pairs = arg_to_int(argv[2]);
    if (argc > 3)
        cfg.warm_ms = arg_to_int(argv[3]);
    for (int k = 0; k < 3; ++k)
        if (argc > 4 + k)
            cfg.boundary[k] = arg_to_double(argv[4 + k]);
    return cfg;
}
