// A small shared library for the loader's tests: one exported function.
extern "C" int tavrixTestLibAnswer() { return 4242; }
