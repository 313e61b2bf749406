#include "core/integer.hpp"

#include <stdexcept>

namespace forth {

void integer_out_of_range() { throw std::out_of_range("integer out of range"); }

}  // namespace forth
