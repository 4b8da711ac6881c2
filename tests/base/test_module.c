/* An empty module: the tests only load it and ask for its path. */
int base_test_module_marker = 1;
