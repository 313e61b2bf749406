#pragma once

#include "core/context.hpp"

namespace forth {

// A word defined in the language: a named token list, resolved anew at every call.
struct UserWord {
    TokenList body;

    void operator()(Context& ctx) const;
};

}  // namespace forth
