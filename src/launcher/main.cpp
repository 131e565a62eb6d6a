// Program entry of both launcher images.
#include "launcher/entry.h"

int main(int argc, char** argv) { return vxo::LauncherMain(argc, argv); }
