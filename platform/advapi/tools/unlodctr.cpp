// unlodctr: see counter_names.cpp.
int UnloadCounterNames(int argc, char **argv);

int main(int argc, char **argv) { return UnloadCounterNames(argc, argv); }
