/* Stands in for java.exe in the tests of vexilo-pack.cmd: prints each argument on a line of its
 * own and exits with 3, so a test sees what the script passed and that it kept the exit code. */
#include <stdio.h>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) printf("%s\n", argv[i]);
    return 3;
}
