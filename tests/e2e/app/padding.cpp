// Makes the test application tens of megabytes, so that copying it takes a while.
extern "C" __declspec(dllexport) const unsigned char test_app_padding[32 << 20] = {1};
