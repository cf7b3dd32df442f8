#include "launcherprogram.h"

int main(int argc, char *argv[])
{
    return run_launcher_program(argc, argv);
}
