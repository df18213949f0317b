// The object whose build compiles the test targets' shared headers (tests/CMakeLists.txt).
