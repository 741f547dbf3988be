// Command lines that run the test binary itself as a capture child.
#pragma once

#include <string>

namespace norva_test {

// "<this test binary> --capture-child <behaviour> <argument>"; see test_main.cpp.
std::string ChildCommand(const std::string& behaviour, const std::string& argument = "");

}  // namespace norva_test
