// Nothing of its own: the target this file belongs to makes the precompiled
// header of the test framework and the standard library that every test
// program reuses (tests/CMakeLists.txt).
