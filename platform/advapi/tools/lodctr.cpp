// lodctr: see counter_names.cpp.
int LoadCounterNames(int argc, char **argv);

int main(int argc, char **argv) { return LoadCounterNames(argc, argv); }
