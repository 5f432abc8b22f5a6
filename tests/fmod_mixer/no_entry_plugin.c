/* A shared object that is no codec plug-in: it lacks the entry point. */
__attribute__((visibility("default"))) int pwNotAPlugin(void) { return 42; }
