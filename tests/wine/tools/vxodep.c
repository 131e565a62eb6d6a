/* A library that a stand-in runtime imports, so that the runtime loads only where the loader
   finds this file. */
__declspec(dllexport) int vxodep_present(void) { return 1; }
