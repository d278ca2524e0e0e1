// Benchmark rows of hostile settings: what a reload, a tick and a paint cost when the rc
// file asks for the largest graphs and panel, and the worst over every integer key.
#pragma once

void benchHostileSettings();
