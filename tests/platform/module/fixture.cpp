// A library for the module loader's tests.
extern "C" __attribute__((visibility("default"))) int FixtureAnswer() { return 4711; }
