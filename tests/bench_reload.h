// Benchmark rows of a whole settings reload.
#pragma once

void benchReload();
