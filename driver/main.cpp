#include "driver/probe_run.h"

int main(int argc, char** argv)
{
    return run_probe(argc, argv);
}
