// The IP row's rows of the benchmark program.
#pragma once

// Prints the IP tick next to its bare IP Helper calls, for IPv4 alone and for both families.
void benchIpRow();
