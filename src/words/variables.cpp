#include "words/builtins.hpp"

// The order of finding and popping decides what an underflow leaves behind:
// =name creates its variable before it pops, +name and -name pop first.
namespace forth::builtin {

void store_variable(Context& ctx, const std::string& name) {
    double& variable = ctx.variables[name];
    variable = pop(ctx);
}

void add_to_variable(Context& ctx, const std::string& name) {
    const double x = pop(ctx);
    double& variable = ctx.variables[name];
    variable = x + variable;
}

void subtract_from_variable(Context& ctx, const std::string& name) {
    const double x = pop(ctx);
    double& variable = ctx.variables[name];
    variable = variable - x;
}

void fetch_variable(Context& ctx, const std::string& name) {
    const auto variable = ctx.variables.find(name);
    // The message is the one the map's at() has always given here.
    if (variable == ctx.variables.end()) throw std::out_of_range("_Map_base::at");
    push(ctx, variable->second);
}

}  // namespace forth::builtin
