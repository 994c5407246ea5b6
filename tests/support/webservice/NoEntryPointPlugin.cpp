// A library under the web-service plug-in's file name that exports no entry point: loading it
// succeeds and the look-up of the entry point fails.
extern "C" __attribute__((visibility("default"))) int idxNotTheEntryPoint() {
    return 0;
}
