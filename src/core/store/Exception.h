// The program's one base exception type. Every error the program raises itself
// derives from it, so one handler catches them all.
#pragma once

#include <stdexcept>
#include <string>

namespace corvane {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

} // namespace corvane
