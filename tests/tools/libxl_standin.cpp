// A stand-in for the spreadsheet library libxl.dll: a real shared library,
// so that a running stand-in application can keep it loaded, which is what
// makes the launcher's wait for close-down observable. The dynamic-call
// tests call it too.
#if defined(_WIN32)
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

STANDIN_EXPORT int StandinVersion() { return 1; }

// A true BOOL whose low byte is 0.
STANDIN_EXPORT int StandinWideTrue() { return 256; }
