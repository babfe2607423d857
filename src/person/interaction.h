#pragma once
// The only way an operation reaches the person: the window implements it with widgets, the command
// line with flags and the terminal, the tests with scripted answers.

#include "person/progress.h"
#include "person/questions.h"

namespace x45 {

class Interaction : public Questions, public Progress {};

} // namespace x45
