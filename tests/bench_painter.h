// Painter rows of the benchmark program: rendering and cached paints of a real window.
#pragma once

// Prints, for the default model, the largest model and a very wide graph, the median
// time of a rendering paint and of a cached paint, and their ratio.
void benchPainter();
// Prints, for each graph of the example theme, what one sample costs to render and show: scrolled
// in, and drawn whole as before; "kelvora_bench graphs" prints only these rows.
void benchGraphSamples();

// Releases what the model holds and zeroes it, with an empty fake host and the plugin's paths.
void startModel();
