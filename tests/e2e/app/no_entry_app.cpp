// A library the launcher can load but not enter: it exports no wx_main.
extern "C" __declspec(dllexport) int not_the_entry_point() { return 1; }
