#include "core/code.hpp"

#include <memory>

namespace forth {

Step::Step(const Step& other)
    : run(other.run), next(other.next), op(other.op), through_alias(other.through_alias), last(other.last),
      holds_detail(other.holds_detail), generation(other.generation), variable(other.variable), row(other.row),
      value_(other.value_) {
    if (holds_detail) ++value_.detail->references;
}

Step& Step::operator=(const Step& other) {
    if (this == &other) return *this;
    if (other.holds_detail) ++other.value_.detail->references;
    release();
    run = other.run;
    next = other.next;
    op = other.op;
    through_alias = other.through_alias;
    last = other.last;
    holds_detail = other.holds_detail;
    generation = other.generation;
    variable = other.variable;
    row = other.row;
    value_ = other.value_;
    return *this;
}

Step::~Step() { release(); }

void Step::release() {
    if (holds_detail && --value_.detail->references == 0) delete value_.detail;
    holds_detail = false;
}

void Step::set_number(double number) {
    release();
    value_.number = number;
}

StepDetail& Step::detail() {
    if (!holds_detail) {
        value_.detail = new StepDetail;
        value_.detail->references = 1;
        holds_detail = true;
    } else if (value_.detail->references > 1) {
        auto own = std::make_unique<StepDetail>();
        own->list = value_.detail->list;
        own->name = value_.detail->name;
        if (value_.detail->flat) own->flat = std::make_unique<FlatBody>(*value_.detail->flat);
        own->references = 1;
        --value_.detail->references;
        value_.detail = own.release();
    }
    return *value_.detail;
}

}  // namespace forth
