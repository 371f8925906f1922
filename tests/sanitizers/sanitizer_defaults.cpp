// Defaults for the sanitizer builds, read by the sanitizer runtime at start-up. Only
// third-party code is excused here; every report about our own code stays an error.
extern "C" {

// fontconfig keeps a few hundred bytes of its configuration for the whole process and never
// frees them; Qt loads it to find the interface font.
const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

}  // extern "C"
