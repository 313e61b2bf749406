#include "words/operations.hpp"

#include <stdexcept>

namespace forth::operation {

// An operand that does not fit is reported before a zero divisor.
void divisible::fail(double x, double y) {
    to_int32(x);
    to_int32(y);
    throw std::domain_error("division by zero");
}

}  // namespace forth::operation
