// Placeholder until the random generators land.
#include "randomizer/randomizer.h"

#include "shell/form1.h"

namespace zb {
Randomizer::Randomizer(Form1& form) : form_(form) {}
void Randomizer::Command1_Click() {}
void Randomizer::Command2_Click() {}
}  // namespace zb
