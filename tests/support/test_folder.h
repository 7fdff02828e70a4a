// Temporary files of the running test. CTest runs every test in its own
// process, several side by side, and the same suite may run in two builds at
// once: each test gets a folder named after the test and the process, made
// on first use and removed with everything in it when the test ends.
#pragma once
#include <string>

// The running test's folder, ending in a separator (outside a test: one per
// process).
const std::string& TestFolder();
// A path inside TestFolder().
std::string TestPath(const std::string& name);
