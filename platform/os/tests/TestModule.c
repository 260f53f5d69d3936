/* TestModule: a tiny shared object that the dynamic-loading tests load. */
int qorcam_os_test_answer(void) { return 42; }
