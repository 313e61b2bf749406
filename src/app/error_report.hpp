#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <utility>

#include "core/interrupt.hpp"

namespace forth {

// Writes one line to standard error: `prefix`, the message, a newline; flushed.
void report_error(const char* prefix, const std::exception& error);

// Writes the line "Interrupted" to standard error; flushed.
void report_interrupt();

// Runs `action`. An exception it throws is reported on standard error, by
// category, and false is returned; nothing is reset. So is an interrupt,
// which only the interactive loop on a terminal asks for.
template <typename Action>
bool report_errors(Action&& action) {
    try {
        std::forward<Action>(action)();
        return true;
    } catch (const std::domain_error& error) {
        report_error("Domain error: ", error);
    } catch (const std::bad_function_call& error) {
        report_error("Bad function call: ", error);
    } catch (const std::out_of_range& error) {
        report_error("Out of range: ", error);
    } catch (const std::runtime_error& error) {
        report_error("Runtime error: ", error);
    } catch (const Interrupted&) {
        report_interrupt();
    } catch (const std::exception& error) {
        // Exhausted memory and the library's other errors: still a failed
        // line, not the end of the session.
        report_error("Error: ", error);
    }
    return false;
}

}  // namespace forth
