// A minimal library to sign, tamper with and verify.
extern "C" __declspec(dllexport) int payload_answer() { return 42; }
