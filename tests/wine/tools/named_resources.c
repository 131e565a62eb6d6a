/* A small image for the packer's tests: an archive-length slot like the launcher's, and resources
 * under string names and a string type (named_resources.rc), which the launcher images lack. */
__attribute__((used)) volatile const unsigned char vxo_archive_slot[22] = {
    0, 0, 0, 0, 0, 0, 0, 0, 'V', 'E', 'X', 'I', 'L', 'O', '_', 'A', 'R', 'C', 'L', 'E', 'N', 0};

int main(void) { return vxo_archive_slot[0]; }
