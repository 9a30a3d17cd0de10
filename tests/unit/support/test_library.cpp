// A library for the loader tests: one export, nothing else.
extern "C" __declspec(dllexport) int quarlo_test_answer() { return 42; }
