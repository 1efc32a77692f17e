#include "shell/ShellMain.h"

int main(int argc, char** argv)
{
    return corvex::applicationMain(argc, argv);
}
