// Tooltip rows of the benchmark program.
#pragma once

// Prints the cost of building each kind of part's tooltip text, as the tooltip asks for it.
void benchDetails();
